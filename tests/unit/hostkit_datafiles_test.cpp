// The sample tables of data/ and the JSON loaders that read them.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <stdexcept>
#include <string>

#include "hostkit/tables.h"

namespace {

using tshost::ElementDesc;

class HostkitSampleTables : public ::testing::Test {
protected:
    static void SetUpTestSuite() { tables_ = new tshost::SampleTables(tshost::LoadSampleTables()); }
    static void TearDownTestSuite() {
        delete tables_;
        tables_ = nullptr;
    }
    static const std::vector<ElementDesc>& elements() { return tables_->elements; }
    static const ElementDesc& element(const char* name) { return elements()[tshost::ElementIndex(elements(), name)]; }
    static tshost::SampleTables* tables_;
};
tshost::SampleTables* HostkitSampleTables::tables_ = nullptr;

TEST_F(HostkitSampleTables, HoldsTheElementsTheLibraryLooksFor) {
    ASSERT_GE(elements().size(), 20u);
    ASSERT_LT(elements().size(), 255u);

    const int vacuum = tshost::FindElementById(elements(), SIM_VACUUM_ELEMENT_ID);
    const int sink = tshost::FindElementById(elements(), SIM_SINK_ELEMENT_ID);
    const int border = tshost::FindElementById(elements(), SIM_BORDER_ELEMENT_ID);
    ASSERT_GE(vacuum, 0);
    ASSERT_GE(sink, 0);
    ASSERT_GE(border, 0);
    EXPECT_EQ(elements()[size_t(vacuum)].state(), SIM_STATE_VACUUM);
    EXPECT_EQ(elements()[size_t(sink)].state(), SIM_STATE_VACUUM);
    const ElementRecord& b = elements()[size_t(border)].record;
    EXPECT_EQ(b.stateFlags & SIM_STATE_MASK, SIM_STATE_SOLID);
    EXPECT_NE(b.stateFlags & SIM_ELEMENT_UNBREAKABLE, 0);
    // Border cells sit at 0 K: they must not conduct into the world.
    EXPECT_NE(b.stateFlags & SIM_ELEMENT_NO_HEAT_EXCHANGE, 0);
    EXPECT_GE(b.maxMass, 9999.0f);

    EXPECT_EQ(element("Sand").record.stateFlags, SIM_STATE_SOLID | SIM_ELEMENT_UNSTABLE);
    EXPECT_EQ(element("Granite").record.stateFlags & SIM_ELEMENT_UNSTABLE, 0);

    // Ids the loader of saves rewrites or treats specially must not be taken.
    std::set<uint32_t> ids;
    for (const ElementDesc& e : elements()) {
        EXPECT_TRUE(ids.insert(e.record.id).second) << e.name;
        for (uint32_t reserved : {0x0280CF79u, 0x2391C22Bu, 0x3FE0146Eu}) EXPECT_NE(e.record.id, reserved) << e.name;
    }

    int states[4] = {};
    for (const ElementDesc& e : elements()) ++states[e.state()];
    EXPECT_GE(states[SIM_STATE_GAS], 4);
    EXPECT_GE(states[SIM_STATE_LIQUID], 4);
    EXPECT_GE(states[SIM_STATE_SOLID], 8);
}

TEST_F(HostkitSampleTables, PhysicalValuesArePlausibleForTheirState) {
    for (const ElementDesc& e : elements()) {
        const ElementRecord& r = e.record;
        SCOPED_TRACE(e.name);
        if (e.state() == SIM_STATE_VACUUM) {
            EXPECT_EQ(r.maxMass, 0.0f);
            EXPECT_EQ(r.thermalConductivity, 0.0f);
            continue;
        }
        EXPECT_GT(r.specificHeatCapacity, 0.0f);
        EXPECT_GT(r.defaultMass, 0.0f);
        EXPECT_GE(r.maxMass, r.defaultMass);
        EXPECT_LE(r.lowTemp, r.highTemp);
        EXPECT_GT(r.defaultTemperature, 0.0f);
        EXPECT_LE(r.defaultTemperature, SIM_MAX_TEMPERATURE);
        // The gas pass moves at most an eighth of a cell; a liquid must be able to flow.
        EXPECT_LE(e.state() == SIM_STATE_GAS ? r.flow : 0.0f, 0.125f);
        EXPECT_GT(e.state() == SIM_STATE_LIQUID ? r.maxFlow : 1.0f, 0.0f);
        // A cell that reaches its transition temperature must still be in range
        // of the default temperature's phase.
        if (r.lowTempTransitionIndex != 255) {
            EXPECT_GT(r.defaultTemperature, r.lowTemp);
        }
        if (r.highTempTransitionIndex != 255) {
            EXPECT_LT(r.defaultTemperature, r.highTemp);
        }
    }
    // Spot values from reference tables.
    EXPECT_NEAR(element("Water").record.specificHeatCapacity, 4.18f, 0.01f);
    EXPECT_NEAR(element("Copper").record.thermalConductivity, 401.0f, 1.0f);
    EXPECT_FLOAT_EQ(element("Ice").record.highTemp, 273.15f);
    EXPECT_FLOAT_EQ(element("Water").record.highTemp, 373.15f);
}

TEST_F(HostkitSampleTables, TransitionsResolveToConsistentElements) {
    const auto& all = elements();
    int transitions = 0;
    for (const ElementDesc& e : all) {
        const ElementRecord& r = e.record;
        SCOPED_TRACE(e.name);
        if (r.highTempTransitionIndex != 255) {
            ASSERT_LT(r.highTempTransitionIndex, all.size());
            const ElementDesc& t = all[r.highTempTransitionIndex];
            // Heating goes towards a less condensed state, and arrives where the
            // target's own low transition sits, so the pair never oscillates.
            EXPECT_LT(t.state(), e.state()) << "-> " << t.name;
            EXPECT_NE(t.state(), SIM_STATE_VACUUM) << "-> " << t.name;
            EXPECT_EQ(r.highTemp, t.record.lowTemp) << "-> " << t.name;
            ++transitions;
        }
        if (r.lowTempTransitionIndex != 255) {
            ASSERT_LT(r.lowTempTransitionIndex, all.size());
            const ElementDesc& t = all[r.lowTempTransitionIndex];
            EXPECT_GT(t.state(), e.state()) << "-> " << t.name;
            EXPECT_EQ(r.lowTemp, t.record.highTemp) << "-> " << t.name;
            // Reverse of the target's high transition.
            EXPECT_EQ(t.record.highTempTransitionIndex, tshost::FindElement(all, e.name)) << "-> " << t.name;
            ++transitions;
        }
        for (uint32_t ore : {r.lowTempTransitionOreId, r.highTempTransitionOreId}) {
            if (ore != SIM_VACUUM_ELEMENT_ID) {
                EXPECT_GE(tshost::FindElementById(all, ore), 0);
            }
        }
        if (r.sublimateIndex != 255) {
            ASSERT_LT(r.sublimateIndex, all.size());
            EXPECT_EQ(all[r.sublimateIndex].state(), SIM_STATE_GAS);
            EXPECT_EQ(all[r.sublimateIndex].record.id, r.sublimateId);
        }
    }
    EXPECT_GE(transitions, 20);

    // The chains named in the table, end to end.
    auto high = [&](const char* name) { return all[element(name).record.highTempTransitionIndex].name; };
    auto low = [&](const char* name) { return all[element(name).record.lowTempTransitionIndex].name; };
    EXPECT_EQ(high("Ice"), "Water");
    EXPECT_EQ(high("Water"), "Steam");
    EXPECT_EQ(low("Steam"), "Water");
    EXPECT_EQ(low("Water"), "Ice");
    EXPECT_EQ(low("Magma"), "Granite");
    EXPECT_EQ(high("Granite"), "Magma");
    EXPECT_EQ(high("Obsidian"), "Magma");
    EXPECT_EQ(element("Polluted water").record.highTempTransitionOreId, element("Dirt").record.id);
    EXPECT_EQ(all[element("Dry ice").record.sublimateIndex].name, "Carbon dioxide");
}

TEST_F(HostkitSampleTables, EveryDiseaseHasGrowthForEveryElement) {
    const auto& diseases = tables_->diseases;
    ASSERT_GE(diseases.size(), 2u);
    std::set<uint32_t> ids;
    for (const tshost::DiseaseDesc& d : diseases) {
        SCOPED_TRACE(d.name);
        EXPECT_NE(d.header.id, 0u);
        EXPECT_TRUE(ids.insert(d.header.id).second);
        EXPECT_GT(d.header.competitionWeight, 0.0f);
        for (int k = 1; k < 4; ++k) EXPECT_LT(d.header.temperatureThresholds[k - 1], d.header.temperatureThresholds[k]);
        ASSERT_EQ(d.growth.size(), elements().size());
        for (size_t e = 0; e < d.growth.size(); ++e) {
            // Growth entries are 29-byte packed records: read fields by value.
            const DiseaseElementGrowth& g = d.growth[e];
            EXPECT_GE(float(g.spreadRate), 0.0f) << elements()[e].name;
            EXPECT_LE(float(g.spreadRate), 1.0f) << elements()[e].name;
            EXPECT_LE(float(g.minCountPerKg), float(g.maxCountPerKg)) << elements()[e].name;
            // A full cell at the population cap must fit a 32-bit count.
            EXPECT_LT(double(g.maxCountPerKg) * elements()[e].record.maxMass, 2.0e9) << elements()[e].name;
        }
    }
    // Overrides by name beat the state layer, which beats the defaults.
    const tshost::DiseaseDesc& vibrio = diseases[tshost::DiseaseIndex(diseases, "Vibrio bacteria")];
    EXPECT_LT(float(vibrio.growth[tshost::ElementIndex(elements(), "Water")].populationHalfLife), 0.0f);
    EXPECT_EQ(float(vibrio.growth[tshost::ElementIndex(elements(), "Crude oil")].populationHalfLife), 1800.0f);
    EXPECT_EQ(int(vibrio.growth[tshost::ElementIndex(elements(), "Crude oil")].minSpreadAge), 3);
    EXPECT_TRUE(std::isinf(vibrio.growth[tshost::ElementIndex(elements(), "Ice")].populationHalfLife));

}

TEST(HostkitDataFiles, LoadersRejectMalformedTables) {
    auto elementsError = [](const std::string& text) {
        try {
            tshost::ParseElementsJson(text);
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    const std::string ok = R"({"elements": [
        {"name": "Vacuum", "id": "0x2D39BF75", "state": "vacuum"},
        {"name": "Rock", "id": 7, "state": "solid", "high": {"temp": 1000, "target": "Lava"}},
        {"name": "Lava", "id": "0x00000008", "state": "liquid", "low": {"temp": 1000, "target": "Rock", "ore": "Rock", "oreMassConversion": 0.5}}]})";
    const auto parsed = tshost::ParseElementsJson(ok);
    ASSERT_EQ(parsed.size(), 3u);
    EXPECT_EQ(parsed[1].record.highTempTransitionIndex, 2);  // named later in the table
    EXPECT_EQ(parsed[2].record.lowTempTransitionIndex, 1);
    EXPECT_EQ(parsed[2].record.lowTempTransitionOreId, 7u);
    EXPECT_EQ(parsed[2].record.lowTempTransitionOreMassConversion, 0.5f);
    EXPECT_EQ(parsed[2].record.highTemp, SIM_MAX_TEMPERATURE);

    const std::pair<const char*, const char*> badElements[] = {
        {R"({"elements": [{"name": "A", "id": 1, "state": "solid", "maxmass": 5}]})", "unknown key \"maxmass\""},
        {R"({"elements": [{"name": "A", "id": 1, "state": "solid", "high": {"temp": 5, "target": "B"}}]})",
         "no element named \"B\""},
        {R"({"elements": [{"name": "A", "id": 1, "state": "solid"}, {"name": "B", "id": "0x1", "state": "gas"}]})",
         "duplicate id"},
        {R"({"elements": [{"name": "A", "id": 1, "state": "plasma"}]})", "state"},
        {R"({"elements": [{"name": "A", "id": "12", "state": "gas"}]})", "id"},
        {"{\"elements\": [", "elements"},
    };
    for (const auto& [text, fragment] : badElements)
        EXPECT_NE(elementsError(text).find(fragment), std::string::npos) << text;

    auto diseasesError = [&parsed](const std::string& text) {
        try {
            tshost::ParseDiseasesJson(text, parsed);
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    const std::string base = R"("id": 5, "competitionWeight": 1, "temperatureThresholds": [1, 2, 3, 4],
        "temperatureHalfLives": [1, "infinity", 2, 3])";
    const std::string defaults = R"("default": {"underpopulationDeathRate": 0, "populationHalfLife": 10,
        "overpopulationHalfLife": 5, "spreadRate": 0.1, "minCountPerKg": 0, "maxCountPerKg": 10,
        "minSpreadCount": 1, "minSpreadAge": 2})";
    const auto diseases = tshost::ParseDiseasesJson(
        R"({"diseases": [{"name": "G", )" + base + R"(, "growth": {)" + defaults +
            R"(, "liquid": {"spreadRate": 0.5}, "elements": {"Lava": {"minSpreadAge": 9}}}}]})",
        parsed);
    ASSERT_EQ(diseases.size(), 1u);
    ASSERT_EQ(diseases[0].growth.size(), 3u);
    EXPECT_TRUE(std::isinf(diseases[0].header.temperatureHalfLives[1]));
    EXPECT_EQ(float(diseases[0].growth[1].spreadRate), 0.1f);
    EXPECT_EQ(float(diseases[0].growth[2].spreadRate), 0.5f);
    EXPECT_EQ(int(diseases[0].growth[2].minSpreadAge), 9);
    EXPECT_EQ(int(diseases[0].growth[1].minSpreadAge), 2);

    const std::string head = R"({"diseases": [{"name": "G", )";
    const std::string thresholds = R"("competitionWeight": 1, "temperatureHalfLives": [1, 1, 1, 1], "temperatureThresholds": )";
    const std::pair<std::string, const char*> badDiseases[] = {
        {head + base + R"(, "growth": {"default": {"spreadRate": 1}}}]})", "missing"},
        {head + base + R"(, "growth": {)" + defaults + R"(, "elements": {"Granite": {"spreadRate": 1}}}}]})",
         "no element named \"Granite\""},
        {head + R"("id": 0, )" + thresholds + R"([1, 2, 3, 4], "growth": {)" + defaults + "}}]}", "id 0"},
        {head + R"("id": 1, )" + thresholds + R"([4, 3, 2, 1], "growth": {)" + defaults + "}}]}", "ascend"},
    };
    for (const auto& [text, fragment] : badDiseases)
        EXPECT_NE(diseasesError(text).find(fragment), std::string::npos) << text;
}

}  // namespace
