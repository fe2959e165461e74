// The element table's parser: derived tables, ore resolution, count limits and
// truncations; and heat capacities that would overflow the heat pass.
#include <gtest/gtest.h>

#include <cmath>

#include "scenes/scenes.h"
#include "simlib/physicsstep.h"
#include "unit/testtables.h"

namespace tstest {
namespace {

using ts::BinaryBufferReader;
using ts::ElementTable;

bool Parse(const std::string& payload, ElementTable& table, std::string& error) {
    BinaryBufferReader reader(payload.data(), static_cast<int64_t>(payload.size()));
    return ts::ParseElementTable(reader, table, error);
}

TEST(ElementTable, DerivedTablesAndOreResolution) {
    std::vector<ElementRecord> records = {Element(SIM_VACUUM_ELEMENT_ID, SIM_STATE_VACUUM),
                                          Element(0x10, SIM_STATE_LIQUID), Element(0x20, SIM_STATE_SOLID),
                                          Element(0x30, SIM_STATE_GAS)};
    // Ore named by an element later in the table; vacuum id means none even
    // though vacuum is in the table; an unknown id resolves to none.
    records[1].highTempTransitionOreId = 0x30;
    records[1].lowTempTransitionOreId = SIM_VACUUM_ELEMENT_ID;
    records[2].highTempTransitionOreId = 0xBADu;
    records[2].lowTempTransitionOreId = 0x10;
    records[2].defaultMass = 5.0f;
    records[3].defaultMass = 0.0f;
    records[1].defaultMass = 4.0f;
    std::string error;
    ElementTable table;
    ASSERT_TRUE(Parse(ElementTablePayload(records, {"Vacuum", "Water", "", "Gas"}), table, error)) << error;
    ASSERT_EQ(table.count(), 4);
    EXPECT_EQ(table.info[1].highTempTransitionOreIndex, 3);
    EXPECT_EQ(table.info[1].lowTempTransitionOreIndex, 255);
    EXPECT_EQ(table.info[2].highTempTransitionOreIndex, 255);
    EXPECT_EQ(table.info[2].lowTempTransitionOreIndex, 1);
    // gasMassScale is 1 only for gases.
    EXPECT_EQ(table.info[1].gasMassScale, 0.001f);
    EXPECT_EQ(table.info[3].gasMassScale, 1.0f);
    // Solids absorb at their full factor whatever their default mass; a gas of
    // default mass 0 gets infinity by division.
    EXPECT_TRUE(std::isinf(table.lightInfo[2].inverseDefaultMass));
    EXPECT_TRUE(std::isinf(table.lightInfo[3].inverseDefaultMass));
    EXPECT_EQ(table.lightInfo[1].inverseDefaultMass, 0.25f);
    EXPECT_EQ(table.FindElementIndex(0x20), 2);
    EXPECT_EQ(table.FindElementIndex(0x99), 255);
}

TEST(ElementTable, CountLimitsAndTruncations) {
    std::string error;
    ElementTable table;
    ASSERT_TRUE(Parse(ElementTablePayload({}, {}), table, error));
    EXPECT_EQ(table.count(), 0);
    EXPECT_EQ(table.FindElementIndex(SIM_VACUUM_ELEMENT_ID), 255);

    std::vector<ElementRecord> records;
    std::vector<std::string> names;
    for (uint32_t i = 0; i < 254; ++i) {
        records.push_back(Element(0x5000 + i, SIM_STATE_SOLID));
        names.push_back("e" + std::to_string(i));
    }
    ASSERT_TRUE(Parse(ElementTablePayload(records, names), table, error)) << error;
    EXPECT_EQ(table.count(), 254);
    EXPECT_EQ(table.FindElementIndex(0x5000 + 253), 253);

    records.push_back(Element(0x9999, SIM_STATE_SOLID));
    names.push_back("one too many");
    EXPECT_FALSE(Parse(ElementTablePayload(records, names), table, error));
    std::string negative = ElementTablePayload({}, {});
    const int32_t minusOne = -1;
    std::memcpy(negative.data(), &minusOne, 4);
    EXPECT_FALSE(Parse(negative, table, error));

    const std::string full = ElementTablePayload({Element(1, 1), Element(2, 2)}, {"a", "bb"});
    ASSERT_TRUE(Parse(full, table, error));
    for (size_t cut : {size_t(0), size_t(3), size_t(4), size_t(100), size_t(4 + 216), full.size() - 1}) {
        EXPECT_FALSE(Parse(full.substr(0, cut), table, error)) << "cut at " << cut;
    }
    // A name length reaching past the end.
    std::string badName = ElementTablePayload({Element(1, 1)}, {"abc"});
    const int32_t huge = 1 << 30;
    std::memcpy(badName.data() + 4 + 108, &huge, 4);
    EXPECT_FALSE(Parse(badName, table, error));
}

// A heat capacity whose products with a cell's mass and temperature leave the
// float range turned two neighbouring cells into 0 K with their mass (the
// exchange came out NaN): such tables are refused, and at the largest
// capacity accepted the heaviest cells stay finite.
TEST(HeatOverflow, OverflowingCapacitiesAreRefusedAndTheLargestKeepsCellsInRange) {
    ts::ElementTable elements = StandardElements();
    for (float capacity : {1.0001e20f, 1e36f, std::numeric_limits<float>::infinity(),
                           std::numeric_limits<float>::quiet_NaN()}) {
        std::vector<ElementRecord> records = elements.records;
        records[kGranite].specificHeatCapacity = capacity;
        const std::string payload = ElementTablePayload(records, elements.elementNames);
        ts::BinaryBufferReader reader(reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
        ts::ElementTable table;
        std::string error;
        EXPECT_FALSE(ts::ParseElementTable(reader, table, error)) << capacity;
        EXPECT_NE(error.find("element 5 has specific heat capacity"), std::string::npos) << error;
    }

    elements.records[kGranite].specificHeatCapacity = ts::kMaxSpecificHeatCapacity;
    elements.BuildDerivedTables();
    const ts::DiseaseTable diseases = StandardDiseases();
    ts::WorkerPool pool{1};
    ts::StepContext context{pool};
    // Two of the heaviest cells, and one beside a kilogram of ice: the energy
    // that could move changes the heavy cell below a float's resolution, so
    // nothing moves (energy is conserved), and nothing turns NaN or 0 K.
    const struct {
        uint8_t right;
        float tl, tr, mr;
    } pairs[] = {{kGranite, 9000.0f, 10000.0f, ts::kMassCap}, {kIce, 260.0f, 200.0f, 1.0f}};
    for (const auto& p : pairs) {
        auto world = tsscene::Uniform(elements, diseases, 2, 1, kGranite, p.tl, ts::kMassCap);
        tsscene::Put(*world, 2, 1, p.right, p.tr, p.mr);
        for (int i = 0; i < 3; ++i) {
            world->Snapshot();
            ts::RunHeatPass(context, *world);
        }
        const float left = world->updatedCells.temperature[size_t(world->width + 1)];
        const float right = world->updatedCells.temperature[size_t(world->width + 2)];
        EXPECT_EQ(left, p.tl);
        EXPECT_EQ(right, p.tr);
    }
}

}  // namespace
}  // namespace tstest
