#include "e2e/hostfixture.h"

#include <cmath>

#include "hostkit/payloads.h"

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

void SampleHost::SetUp() {
    HostTest::SetUp();
    tables = tshost::LoadSampleTables();
}

void SampleHost::LoadTables() {
    ASSERT_EQ(lib().SendBytes(SIM_MSG_LOAD_ELEMENT_TABLE, tshost::ElementTablePayload(tables.elements)),
              tables.elements.size());
    lib().SendBytes(SIM_MSG_LOAD_DISEASE_TABLE,
                    tshost::DiseaseTablePayload(tables.diseases, int32_t(tables.elements.size())));
}

void SampleHost::StillGerms() {
    for (tshost::DiseaseDesc& d : tables.diseases) {
        for (float& h : d.header.temperatureHalfLives) h = INFINITY;
        for (DiseaseElementGrowth& g : d.growth) {
            g = DiseaseElementGrowth{};
            g.populationHalfLife = INFINITY;
            g.overpopulationHalfLife = INFINITY;
        }
    }
}

tshost::FrameResultsView SampleHost::Load(const tshost::WorldLayout& world) {
    width = world.width;
    height = world.height;
    EXPECT_EQ(lib().SendBytes(SIM_MSG_CREATE_WORLD, tshost::CreateWorldPayload(world)), uint64_t(width) * uint64_t(height));
    const auto* r = reinterpret_cast<const FrameResults*>(lib().SendBytes(SIM_MSG_LOAD_SAVE_GAME, lib().SaveWorld()));
    EXPECT_NE(r, nullptr);
    return tshost::FrameResultsView(r, width, height);
}

void SampleHost::EndFrame(float dt) { lib().Send(SIM_MSG_END_FRAME, tshost::EndFrame(dt, 0, 0, width, height)); }

tshost::FrameResultsView SampleHost::Exchange() {
    return tshost::FrameResultsView(lib().ExchangeFrame(std::string(size_t(width * height), '\0')), width, height);
}

tshost::FrameResultsView SampleHost::RunFrame(float dt) {
    EndFrame(dt);
    Exchange();
    return Exchange();
}

}  // namespace tstest
