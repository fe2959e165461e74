// A host driving the library's C exports in-process, with the standard test
// tables, and recording every report.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

#include "common/reports.h"
#include "tesselsim/tesselsim.h"
#include "unit/testtables.h"

namespace tstest {

class InProcessHost : public ::testing::Test {
protected:
    void SetUp() override {
        ClearReports();
        SIM_Initialize(&ReportRecorder::Callback);
        elements = StandardElements();
        diseases = StandardDiseases();
        LoadTables(elements);
    }
    void TearDown() override {
        SIM_EndSave();
        SIM_Shutdown();
    }
    // Loads `table` and the test's diseases.
    void LoadTables(const ts::ElementTable& table) {
        Send(SIM_MSG_LOAD_ELEMENT_TABLE, ElementTablePayload(table.records, table.elementNames));
        Send(SIM_MSG_LOAD_DISEASE_TABLE, DiseaseTablePayload(diseases, table.count()));
    }

    static uint64_t Send(uint32_t id, const std::string& payload) {
        return SIM_HandleMessage(id, int32_t(payload.size()), payload.data());
    }
    template <class T>
    static uint64_t Post(uint32_t id, const T& payload) {
        return SIM_HandleMessage(id, int32_t(sizeof(T)), &payload);
    }

    // Creates the world, saves it and loads the save: the simulation runs.
    // Oxygen over a granite floor, with water on the floor's first `waterWidth`
    // cells: the world the random-traffic tests drive.
    const FrameResults* StartFloorAndWater(int32_t w, int32_t h, int32_t waterWidth) {
        WorldLayout world(w, h, Matter(kOxygen, 300.0f, 1.0f));
        world.Fill(0, 0, w, 1, Matter(kGranite, 300.0f, 500.0f));
        world.Fill(0, 1, waterWidth, 2, Matter(kWater, 300.0f, 500.0f));
        return Start(world);
    }

    const FrameResults* Start(const WorldLayout& world) {
        gameWidth = world.width;
        gameHeight = world.height;
        EXPECT_EQ(Send(SIM_MSG_CREATE_WORLD, tshost::CreateWorldPayload(world)), uint64_t(gameWidth) * uint64_t(gameHeight));
        return Load(SaveNow());
    }
    // The running world's save; the results of loading a save.
    static std::string SaveNow() {
        uint32_t length = 0;
        const uint8_t* data = SIM_BeginSave(&length);
        std::string blob(reinterpret_cast<const char*>(data), length);
        SIM_EndSave();
        return blob;
    }
    static const FrameResults* Load(const std::string& blob) {
        return reinterpret_cast<const FrameResults*>(Send(SIM_MSG_LOAD_SAVE_GAME, blob));
    }

    void EndFrame(float dt) { Post(SIM_MSG_END_FRAME, EndFramePayload{dt, 0, 0, gameWidth, gameHeight}); }
    const FrameResults* Exchange(uint8_t permit = 0) {
        const std::string grid(size_t(gameWidth) * size_t(gameHeight), char(permit));
        return reinterpret_cast<const FrameResults*>(Send(SIM_MSG_EXCHANGE_FRAME, grid));
    }
    // Closes a frame, and exchanges twice so its results are in hand.
    const FrameResults* RunFrame(float dt) {
        EndFrame(dt);
        Exchange();
        return Exchange();
    }
    int32_t Cell(int32_t x, int32_t y) const { return y * gameWidth + x; }
    // A published cell's element, mass and temperature; its disease and germ count.
    static std::tuple<int, float, float> Contents(const FrameResults* r, int32_t c) {
        return {r->elementIdx[c], r->mass[c], r->temperature[c]};
    }
    static std::pair<int, int> Germs(const FrameResults* r, int32_t c) { return {r->diseaseIdx[c], r->diseaseCount[c]}; }

    ts::ElementTable elements;
    ts::DiseaseTable diseases;
    int32_t gameWidth = 0;
    int32_t gameHeight = 0;
};

}  // namespace tstest
