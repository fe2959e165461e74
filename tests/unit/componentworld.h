// A world built in-process for component tests, with the reports that reach
// the host callback recorded (also for the report channel's own tests).
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "common/reports.h"
#include "hostapi/runtime.h"
#include "scenes/scenes.h"
#include "simlib/components/registry.h"
#include "unit/testtables.h"

namespace tstest {

// The library's reports, through its own sink, to the recorder.
class RecordedReports : public ::testing::Test {
protected:
    void SetUp() override {
        ReportRecorder::Clear();
        ts::InstallReportSink();
        ts::GetRuntime().callback.store(&ReportRecorder::Callback);
    }
    void TearDown() override { ts::GetRuntime().callback.store(nullptr); }
};

class ComponentWorld : public RecordedReports {
protected:
    // gw x gh game cells of one element; tables changed before this call count.
    ts::World& Make(int32_t gw, int32_t gh, uint8_t element, float t, float m) {
        elements.BuildDerivedTables();
        world = tsscene::Uniform(elements, diseases, gw, gh, element, t, m);
        return *world;
    }
    template <class T>
    T& Component() {
        return ts::ComponentOf<T>(world->components);
    }
    // Sim cell of game coordinates.
    int32_t Sim(int32_t x, int32_t y) const { return (y + 1) * world->width + x + 1; }
    float& T(int32_t x, int32_t y) { return world->updatedCells.temperature[size_t(Sim(x, y))]; }
    float& M(int32_t x, int32_t y) { return world->updatedCells.mass[size_t(Sim(x, y))]; }
    uint8_t& E(int32_t x, int32_t y) { return world->updatedCells.elementIdx[size_t(Sim(x, y))]; }
    uint8_t& Insulation(int32_t x, int32_t y) { return world->updatedCells.insulation[size_t(Sim(x, y))]; }
    // Heat held by a game cell, in double: mass x specific heat x temperature.
    double Heat(int32_t x, int32_t y) {
        return double(M(x, y)) * double(elements.records[E(x, y)].specificHeatCapacity) * double(T(x, y));
    }

    ts::ElementTable elements = StandardElements();
    ts::DiseaseTable diseases = StandardDiseases();
    std::unique_ptr<ts::World> world;
};

}  // namespace tstest
