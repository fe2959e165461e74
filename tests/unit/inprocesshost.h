// A host driving the library's C exports in-process, with the standard test
// tables, and recording every report.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tesselsim/tesselsim.h"
#include "unit/testtables.h"

namespace tstest {

class InProcessHost : public ::testing::Test {
protected:
    static std::mutex reportLock;
    static std::vector<std::string> reports;
    static void Record(int32_t code, void* record) {
        if (code != SIM_CALLBACK_ASSERTION) return;
        std::lock_guard<std::mutex> guard(reportLock);
        reports.push_back(static_cast<SimAssertionReport*>(record)->message);
    }
    static size_t ReportCount() {
        std::lock_guard<std::mutex> guard(reportLock);
        return reports.size();
    }
    static bool Reported(const std::string& text) {
        std::lock_guard<std::mutex> guard(reportLock);
        for (const auto& r : reports)
            if (r.find(text) != std::string::npos) return true;
        return false;
    }

    static void ClearReports() {
        std::lock_guard<std::mutex> guard(reportLock);
        reports.clear();
    }

    void SetUp() override {
        ClearReports();
        SIM_Initialize(&Record);
        elements = StandardElements();
        diseases = StandardDiseases();
        Send(SIM_MSG_LOAD_ELEMENT_TABLE, ElementTablePayload(elements.records, elements.elementNames));
        Send(SIM_MSG_LOAD_DISEASE_TABLE, DiseaseTablePayload(diseases, elements.count()));
    }
    void TearDown() override {
        SIM_EndSave();
        SIM_Shutdown();
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
        WorldPlan plan(w, h, kOxygen, 300.0f, 1.0f);
        for (int32_t x = 0; x < w; ++x) plan.at(x, 0) = CreateWorldCell{kGranite, 0, 255, 132, 300.0f, 500.0f};
        for (int32_t x = 0; x < waterWidth; ++x) plan.at(x, 1) = CreateWorldCell{kWater, 0, 255, 132, 300.0f, 500.0f};
        return Start(plan);
    }

    const FrameResults* Start(const WorldPlan& plan) {
        gameWidth = plan.w;
        gameHeight = plan.h;
        EXPECT_EQ(Send(SIM_MSG_CREATE_WORLD, plan.Payload()), uint64_t(plan.w) * uint64_t(plan.h));
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

    void EndFrame(float dt) {
        const EndFramePayload end{dt, 0, 0, gameWidth, gameHeight};
        Post(SIM_MSG_END_FRAME, end);
    }
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
    static std::tuple<int, float, float> Matter(const FrameResults* r, int32_t c) {
        return {r->elementIdx[c], r->mass[c], r->temperature[c]};
    }
    static std::pair<int, int> Germs(const FrameResults* r, int32_t c) { return {r->diseaseIdx[c], r->diseaseCount[c]}; }

    ts::ElementTable elements;
    ts::DiseaseTable diseases;
    int32_t gameWidth = 0;
    int32_t gameHeight = 0;
};

}  // namespace tstest
