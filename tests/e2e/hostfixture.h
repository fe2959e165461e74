// A host for end-to-end tests: loads the built library and records every
// report that reaches the host callback.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "hostkit/frameresults.h"
#include "hostkit/library.h"
#include "hostkit/tables.h"
#include "hostkit/world.h"

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

// A host with the sample tables, which a test may change before LoadTables,
// and one world driven frame by frame.
class SampleHost : public HostTest {
protected:
    void SetUp() override;
    void LoadTables();
    // Germs that neither grow, die nor (unless a test says so) spread.
    void StillGerms();
    // Creates the world, saves it and loads the save: the simulation runs.
    tshost::FrameResultsView Load(const tshost::WorldLayout& world);
    void EndFrame(float dt);
    tshost::FrameResultsView Exchange();
    // Closes a frame and exchanges twice: that frame's results.
    tshost::FrameResultsView RunFrame(float dt);
    uint8_t E(const char* name) const { return tshost::ElementIndex(tables.elements, name); }
    int32_t Cell(int32_t x, int32_t y) const { return y * width + x; }

    tshost::SampleTables tables;
    int32_t width = 0;
    int32_t height = 0;
};

}  // namespace tstest
