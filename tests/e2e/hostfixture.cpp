#include "e2e/hostfixture.h"

namespace tstest {

std::mutex ReportRecorder::lock_;
std::vector<RecordedReport> ReportRecorder::reports_;

void ReportRecorder::Callback(int32_t code, void* record) {
    std::lock_guard<std::mutex> guard(lock_);
    if (code == SIM_CALLBACK_ASSERTION) {
        auto* r = static_cast<SimAssertionReport*>(record);
        reports_.push_back({code, r->callStack, r->message, r->file, r->line});
    } else {
        auto* r = static_cast<SimCrashReport*>(record);
        reports_.push_back({code, r->callStack, r->dumpPath, "", 0});
    }
}

std::vector<RecordedReport> ReportRecorder::Take() {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<RecordedReport> out;
    out.swap(reports_);
    return out;
}

void ReportRecorder::Clear() { Take(); }

bool ReportRecorder::Saw(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& r : reports_)
        if (r.message.find(text) != std::string::npos) return true;
    return false;
}

tshost::Library& HostTest::lib() {
    static tshost::Library library(TS_LIBRARY_PATH);
    return library;
}

void HostTest::SetUp() {
    ReportRecorder::Clear();
    lib().SIM_Initialize(&ReportRecorder::Callback);
}

void HostTest::TearDown() { lib().SIM_Shutdown(); }

}  // namespace tstest
