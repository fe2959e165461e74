// Table writers: the LoadElementTable and LoadDiseaseTable
// payloads, lookups.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "hostkit/tables.h"
#include "simlib/disease.h"
#include "simlib/elementtable.h"

namespace {

// The header pins the record layouts; the library's parsers read back what
// the writers wrote (the unit tests' own tables go through these writers too).
TEST(HostkitTables, PayloadsReadBackThroughTheLibrarysParsers) {
    tshost::ElementDesc water = tshost::MakeElement("Water", 0xAABBCCDDu, SIM_STATE_LIQUID);
    water.record.specificHeatCapacity = 4.18f;
    water.record.reserved104 = 0x01020304u;
    const tshost::ElementDesc elements[] = {water, tshost::MakeElement("Ice", 0x11223344u, SIM_STATE_SOLID)};
    const std::string e = tshost::ElementTablePayload(elements);
    ts::BinaryBufferReader elementReader(e.data(), int64_t(e.size()));
    ts::ElementTable parsedElements;
    std::string error;
    ASSERT_TRUE(ts::ParseElementTable(elementReader, parsedElements, error)) << error;
    ASSERT_EQ(parsedElements.count(), 2);
    EXPECT_EQ(parsedElements.elementNames, (std::vector<std::string>{"Water", "Ice"}));
    for (size_t i = 0; i < 2; ++i)
        EXPECT_EQ(std::memcmp(&parsedElements.records[i], &elements[i].record, sizeof(ElementRecord)), 0) << i;
    EXPECT_EQ(tshost::ElementTablePayload({}), std::string(4, '\0'));  // an empty table is the count alone

    tshost::DiseaseDesc d{"Germ", {}, {}};
    d.header.id = 0x0BADF00Du;
    d.header.competitionWeight = 2.0f;
    d.header.temperatureHalfLives[3] = std::numeric_limits<float>::infinity();
    d.growth = {{0.5f, -600.0f, 60.0f, 0.1f, 0.01f, 100.0f, 10, 3}, {1.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f, -1, 255}};
    const tshost::DiseaseDesc diseases[] = {d};
    const std::string b = tshost::DiseaseTablePayload(diseases, 2);
    ts::BinaryBufferReader diseaseReader(b.data(), int64_t(b.size()));
    ts::DiseaseTable parsed;
    ASSERT_TRUE(ts::ParseDiseaseTable(diseaseReader, 2, parsed, error)) << error;
    ASSERT_EQ(parsed.count(), 1);
    EXPECT_EQ(parsed.diseaseNames[0], "Germ");
    EXPECT_EQ(parsed.records[0].id, 0x0BADF00Du);
    EXPECT_EQ(parsed.records[0].competitionWeight, 2.0f);
    EXPECT_TRUE(std::isinf(parsed.records[0].temperatureHalfLives[3]));
    EXPECT_EQ(parsed.records[0].populationHalfLife[0], -600.0f);
    EXPECT_EQ(parsed.records[0].maxCountPerKg[0], 100.0f);
    EXPECT_EQ(parsed.records[0].minSpreadCount[1], -1);
    EXPECT_EQ(parsed.records[0].minSpreadAge[1], 255);
    // Growth entries must match the declared element count; no diseases: the two counts alone.
    EXPECT_THROW(tshost::DiseaseTablePayload(diseases, 3), std::invalid_argument);
    EXPECT_EQ(tshost::DiseaseTablePayload({}, 5), std::string("\0\0\0\0\5\0\0\0", 8));
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
