// A host for end-to-end tests: loads the built library and records every
// report that reaches the host callback.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hostkit/library.h"

namespace tstest {

struct RecordedReport {
    int32_t code;
    std::string callStack;
    std::string message;
    std::string file;
    int32_t line;
};

class ReportRecorder {
public:
    static void Callback(int32_t code, void* record);
    static std::vector<RecordedReport> Take();
    static void Clear();
    // True when some recorded message contains `text`.
    static bool Saw(const std::string& text);

private:
    static std::mutex lock_;
    static std::vector<RecordedReport> reports_;
};

// Every test gets a freshly initialised library (it is loaded once per process).
class HostTest : public ::testing::Test {
protected:
    static tshost::Library& lib();
    void SetUp() override;
    void TearDown() override;
};

}  // namespace tstest
