// A heat capacity whose products with a cell's mass and temperature leave the
// float range turned two neighbouring cells into 0 K with their mass (the
// exchange came out NaN): such tables are refused, and at the largest
// capacity accepted the heaviest cells stay finite.
#include <gtest/gtest.h>

#include "scenes/scenes.h"
#include "simlib/physicsstep.h"
#include "unit/testtables.h"

namespace tstest {
namespace {

TEST(HeatOverflow, TablesWithOverflowingHeatCapacitiesAreRefused) {
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
}

TEST(HeatOverflow, TheLargestCapacityKeepsTheHeaviestCellsInRange) {
    ts::ElementTable elements = StandardElements();
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
