// A world built in-process for component tests, with the reports that reach
// the host callback recorded.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hostapi/runtime.h"
#include "scenes/scenes.h"
#include "simlib/components/registry.h"
#include "unit/testtables.h"

namespace tstest {

class ComponentWorld : public ::testing::Test {
protected:
    static std::vector<std::string>& Reports() {
        static std::vector<std::string> reports;
        return reports;
    }
    static void Record(int32_t code, void* record) {
        if (code == SIM_CALLBACK_ASSERTION) Reports().push_back(static_cast<SimAssertionReport*>(record)->message);
    }
    static bool Reported(const std::string& text) {
        for (const auto& r : Reports())
            if (r.find(text) != std::string::npos) return true;
        return false;
    }

    void SetUp() override {
        Reports().clear();
        ts::InstallReportSink();
        ts::GetRuntime().callback.store(&Record);
    }
    void TearDown() override { ts::GetRuntime().callback.store(nullptr); }

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
