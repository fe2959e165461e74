// Table writers: the LoadElementTable and LoadDiseaseTable payloads byte for byte.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include "common/testio.h"
#include "hostkit/tables.h"

namespace {

using tstest::At;

TEST(HostkitTables, MakeElementNamesNothing) {
    const tshost::ElementDesc e = tshost::MakeElement("Gravel", 0x1234u, SIM_STATE_SOLID | SIM_ELEMENT_UNSTABLE);
    EXPECT_EQ(e.state(), SIM_STATE_SOLID);
    EXPECT_EQ(e.record.stateFlags, 0x0B);
    EXPECT_EQ(e.record.lowTempTransitionIndex, 255);
    EXPECT_EQ(e.record.highTempTransitionIndex, 255);
    EXPECT_EQ(e.record.sublimateIndex, 255);
    EXPECT_EQ(e.record.lowTempTransitionOreId, 0x2D39BF75u);
    EXPECT_EQ(e.record.highTempTransitionOreId, 0x2D39BF75u);
    EXPECT_EQ(e.record.highTemp, 10000.0f);
}

TEST(HostkitTables, ElementTablePayloadIsCountRecordsThenNames) {
    tshost::ElementDesc water = tshost::MakeElement("Water", 0xAABBCCDDu, SIM_STATE_LIQUID);
    water.record.lowTempTransitionIndex = 1;
    water.record.specificHeatCapacity = 4.18f;
    water.record.thermalConductivity = 0.6f;
    water.record.maxMass = 1000.0f;
    water.record.lowTemp = 273.15f;
    water.record.colour = 0x2B6FD6u;
    water.record.lightAbsorptionFactor = 0.25f;
    water.record.defaultMass = 1000.0f;
    water.record.reserved104 = 0x01020304u;
    tshost::ElementDesc ice = tshost::MakeElement("Ice", 0x11223344u, SIM_STATE_SOLID);
    ice.record.highTempTransitionIndex = 0;
    ice.record.highTemp = 273.15f;
    ice.record.strength = 0.8f;
    ice.record.highTempTransitionOreId = 0xAABBCCDDu;
    ice.record.highTempTransitionOreMassConversion = 0.5f;
    ice.record.sublimateIndex = 0;
    ice.record.reserved81 = 7;
    ice.record.sublimateId = 0xAABBCCDDu;
    const tshost::ElementDesc table[] = {water, ice};

    const std::string b = tshost::ElementTablePayload(table);
    ASSERT_EQ(b.size(), 4u + 2 * 108 + (4 + 5) + (4 + 3));
    EXPECT_EQ(At<int32_t>(b, 0), 2);

    const size_t w = 4;  // first record
    EXPECT_EQ(At<uint32_t>(b, w + 0), 0xAABBCCDDu);
    EXPECT_EQ(At<uint8_t>(b, w + 4), 2);
    EXPECT_EQ(At<uint8_t>(b, w + 5), 1);
    EXPECT_EQ(At<uint8_t>(b, w + 6), 255);
    EXPECT_EQ(At<uint8_t>(b, w + 7), 0);
    EXPECT_EQ(At<float>(b, w + 8), 4.18f);
    EXPECT_EQ(At<float>(b, w + 12), 0.6f);
    EXPECT_EQ(At<float>(b, w + 48), 1000.0f);
    EXPECT_EQ(At<float>(b, w + 52), 273.15f);
    EXPECT_EQ(At<float>(b, w + 56), 10000.0f);
    EXPECT_EQ(At<uint32_t>(b, w + 64), 0x2D39BF75u);
    EXPECT_EQ(At<uint32_t>(b, w + 72), 0x2D39BF75u);
    EXPECT_EQ(At<uint8_t>(b, w + 80), 255);
    EXPECT_EQ(At<uint32_t>(b, w + 84), 0x2B6FD6u);
    EXPECT_EQ(At<float>(b, w + 92), 0.25f);
    EXPECT_EQ(At<float>(b, w + 100), 1000.0f);
    EXPECT_EQ(At<uint32_t>(b, w + 104), 0x01020304u);

    const size_t i = 4 + 108;  // second record
    EXPECT_EQ(At<uint32_t>(b, i + 0), 0x11223344u);
    EXPECT_EQ(At<uint8_t>(b, i + 4), 3);
    EXPECT_EQ(At<uint8_t>(b, i + 5), 255);
    EXPECT_EQ(At<uint8_t>(b, i + 6), 0);
    EXPECT_EQ(At<float>(b, i + 56), 273.15f);
    EXPECT_EQ(At<float>(b, i + 60), 0.8f);
    EXPECT_EQ(At<uint32_t>(b, i + 72), 0xAABBCCDDu);
    EXPECT_EQ(At<float>(b, i + 76), 0.5f);
    EXPECT_EQ(At<uint8_t>(b, i + 80), 0);
    EXPECT_EQ(At<uint8_t>(b, i + 81), 7);
    EXPECT_EQ(At<uint16_t>(b, i + 82), 0);
    EXPECT_EQ(At<uint32_t>(b, i + 88), 0xAABBCCDDu);

    const size_t names = 4 + 2 * 108;
    EXPECT_EQ(At<int32_t>(b, names), 5);
    EXPECT_EQ(b.substr(names + 4, 5), "Water");
    EXPECT_EQ(At<int32_t>(b, names + 9), 3);
    EXPECT_EQ(b.substr(names + 13, 3), "Ice");

    // An empty table is the count alone.
    EXPECT_EQ(tshost::ElementTablePayload({}), std::string(4, '\0'));
}

TEST(HostkitTables, DiseaseTablePayloadIsCountsThenNameHeaderGrowth) {
    tshost::DiseaseDesc d;
    d.name = "Germ";
    d.header.id = 0x0BADF00Du;
    d.header.competitionWeight = 2.0f;
    const float thresholds[4] = {270.0f, 280.0f, 300.0f, 330.0f};
    const float halfLives[4] = {100.0f, 200.0f, 300.0f, std::numeric_limits<float>::infinity()};
    std::memcpy(d.header.temperatureThresholds, thresholds, sizeof thresholds);
    std::memcpy(d.header.temperatureHalfLives, halfLives, sizeof halfLives);
    d.header.reservedParams[7] = 9.0f;
    d.growth.resize(2);
    d.growth[0] = {0.5f, -600.0f, 60.0f, 0.1f, 0.01f, 100.0f, 10, 3};
    d.growth[1] = {1.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f, -1, 255};
    const tshost::DiseaseDesc table[] = {d};

    const std::string b = tshost::DiseaseTablePayload(table, 2);
    ASSERT_EQ(b.size(), 8u + 4 + 4 + 72 + 2 * 29);
    EXPECT_EQ(At<int32_t>(b, 0), 1);
    EXPECT_EQ(At<int32_t>(b, 4), 2);
    EXPECT_EQ(At<int32_t>(b, 8), 4);
    EXPECT_EQ(b.substr(12, 4), "Germ");
    const size_t h = 16;
    EXPECT_EQ(At<uint32_t>(b, h), 0x0BADF00Du);
    EXPECT_EQ(At<float>(b, h + 4), 2.0f);
    EXPECT_EQ(At<float>(b, h + 8), 270.0f);
    EXPECT_EQ(At<float>(b, h + 20), 330.0f);
    EXPECT_EQ(At<float>(b, h + 24), 100.0f);
    EXPECT_TRUE(std::isinf(At<float>(b, h + 36)));
    EXPECT_EQ(At<float>(b, h + 40), 0.0f);
    EXPECT_EQ(At<float>(b, h + 68), 9.0f);
    const size_t g0 = h + 72, g1 = g0 + 29;
    EXPECT_EQ(At<float>(b, g0), 0.5f);
    EXPECT_EQ(At<float>(b, g0 + 4), -600.0f);
    EXPECT_EQ(At<float>(b, g0 + 8), 60.0f);
    EXPECT_EQ(At<float>(b, g0 + 12), 0.1f);
    EXPECT_EQ(At<float>(b, g0 + 16), 0.01f);
    EXPECT_EQ(At<float>(b, g0 + 20), 100.0f);
    EXPECT_EQ(At<int32_t>(b, g0 + 24), 10);
    EXPECT_EQ(At<uint8_t>(b, g0 + 28), 3);
    EXPECT_EQ(At<float>(b, g1), 1.0f);
    EXPECT_EQ(At<int32_t>(b, g1 + 24), -1);
    EXPECT_EQ(At<uint8_t>(b, g1 + 28), 255);

    // Growth entries must match the declared element count.
    EXPECT_THROW(tshost::DiseaseTablePayload(table, 3), std::invalid_argument);
    // No diseases: the two counts alone.
    const std::string empty = tshost::DiseaseTablePayload({}, 5);
    ASSERT_EQ(empty.size(), 8u);
    EXPECT_EQ(At<int32_t>(empty, 4), 5);
}

TEST(HostkitTables, LookupsByNameAndId) {
    const tshost::ElementDesc table[] = {tshost::MakeElement("Vacuum", SIM_VACUUM_ELEMENT_ID, SIM_STATE_VACUUM),
                                         tshost::MakeElement("Rock", 7u, SIM_STATE_SOLID)};
    EXPECT_EQ(tshost::FindElement(table, "Rock"), 1);
    EXPECT_EQ(tshost::FindElement(table, "rock"), -1);
    EXPECT_EQ(tshost::FindElementById(table, SIM_VACUUM_ELEMENT_ID), 0);
    EXPECT_EQ(tshost::FindElementById(table, 8u), -1);
    EXPECT_EQ(tshost::ElementIndex(table, "Rock"), 1);
    EXPECT_THROW(tshost::ElementIndex(table, "Lava"), std::out_of_range);
}

}  // namespace
