// Every report that reaches a host callback, from any thread, kept for the
// test (or test host) to read.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tesselsim/tesselsim.h"

namespace tstest {

struct RecordedReport {
    int32_t code;
    std::string callStack;
    std::string message;  // a crash report's dump path
    std::string file;
    int32_t line;
};

class ReportRecorder {
public:
    static void Callback(int32_t code, void* record) {
        std::lock_guard<std::mutex> guard(lock_);
        if (code == SIM_CALLBACK_ASSERTION) {
            auto* r = static_cast<SimAssertionReport*>(record);
            reports_.push_back({code, r->callStack, r->message, r->file, r->line});
        } else {
            auto* r = static_cast<SimCrashReport*>(record);
            reports_.push_back({code, r->callStack, r->dumpPath, "", 0});
        }
    }
    static std::vector<RecordedReport> Take() {
        std::lock_guard<std::mutex> guard(lock_);
        return std::exchange(reports_, {});
    }
    static void Clear() { Take(); }
    static size_t Count() {
        std::lock_guard<std::mutex> guard(lock_);
        return reports_.size();
    }
    // True when some recorded message contains `text`.
    static bool Saw(const std::string& text) {
        std::lock_guard<std::mutex> guard(lock_);
        for (const auto& r : reports_)
            if (r.message.find(text) != std::string::npos) return true;
        return false;
    }

private:
    static inline std::mutex lock_;
    static inline std::vector<RecordedReport> reports_;
};

inline bool Reported(const std::string& text) { return ReportRecorder::Saw(text); }
inline size_t ReportCount() { return ReportRecorder::Count(); }
inline void ClearReports() { ReportRecorder::Clear(); }

}  // namespace tstest
