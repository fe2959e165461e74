// The JSON loaders of the sample tables (the tables themselves are loaded by
// every end-to-end test).
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>

#include "hostkit/tables.h"

namespace {

TEST(HostkitDataFiles, LoadersRejectMalformedTables) {
    // The loader's complaint about `text`, or "accepted".
    auto error = [](const auto& parse, const std::string& text) {
        try {
            parse(text);
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    auto elementsError = [&error](const std::string& text) { return error(tshost::ParseElementsJson, text); };
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

    auto diseasesError = [&](const std::string& text) {
        return error([&parsed](const std::string& t) { tshost::ParseDiseasesJson(t, parsed); }, text);
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
