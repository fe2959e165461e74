// A host for end-to-end tests: loads the built library and records every
// report that reaches the host callback.
#pragma once

#include <gtest/gtest.h>

#include <cmath>

#include "common/hosting.h"
#include "common/reports.h"
#include "hostkit/frameresults.h"
#include "hostkit/payloads.h"

namespace tstest {

// Every test gets a freshly initialised library (it is loaded once per process).
class HostTest : public ::testing::Test {
protected:
    static tshost::Library& lib() {
        static tshost::Library library(TS_LIBRARY_PATH);
        return library;
    }
    void SetUp() override {
        ReportRecorder::Clear();
        lib().SIM_Initialize(&ReportRecorder::Callback);
    }
    void TearDown() override { lib().SIM_Shutdown(); }
};

// A host with the sample tables, which a test may change before LoadTables,
// and one world driven frame by frame.
class SampleHost : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        tables = tshost::LoadSampleTables();
    }
    void LoadTables() { ASSERT_EQ(tstest::LoadTables(lib(), tables), tables.elements.size()); }
    // Germs that neither grow, die nor (unless a test says so) spread.
    void StillGerms() {
        for (tshost::DiseaseDesc& d : tables.diseases) {
            for (float& h : d.header.temperatureHalfLives) h = INFINITY;
            for (DiseaseElementGrowth& g : d.growth) {
                g = DiseaseElementGrowth{};
                g.populationHalfLife = INFINITY;
                g.overpopulationHalfLife = INFINITY;
            }
        }
    }
    // Creates the world, saves it and loads the save: the simulation runs.
    tshost::FrameResultsView Load(const tshost::WorldLayout& world) {
        width = world.width;
        height = world.height;
        const FrameResults* r = StartWorld(lib(), world);
        EXPECT_NE(r, nullptr);
        return tshost::FrameResultsView(r, width, height);
    }
    void EndFrame(float dt) { lib().Send(SIM_MSG_END_FRAME, tshost::EndFrame(dt, 0, 0, width, height)); }
    tshost::FrameResultsView Exchange() {
        return tshost::FrameResultsView(lib().ExchangeFrame(tshost::HostCellInput(width, height, 0)), width, height);
    }
    // Closes a frame and exchanges twice: that frame's results.
    tshost::FrameResultsView RunFrame(float dt) {
        EndFrame(dt);
        Exchange();
        return Exchange();
    }
    uint8_t E(const char* name) const { return tshost::ElementIndex(tables.elements, name); }
    int32_t Cell(int32_t x, int32_t y) const { return y * width + x; }

    tshost::SampleTables tables;
    int32_t width = 0;
    int32_t height = 0;
};

}  // namespace tstest
