// The host kit's payloads as the built library reads them.
#include "e2e/hostfixture.h"
#include "hostkit/tables.h"
#include "hostkit/world.h"

namespace tstest {
namespace {

using HostkitLibraryTest = HostTest;

TEST_F(HostkitLibraryTest, SampleTablesAndWorldLoadWithoutReports) {
    const tshost::SampleTables t = tshost::LoadSampleTables();
    const auto g = static_cast<int32_t>(t.elements.size());
    EXPECT_EQ(lib().SendBytes(SIM_MSG_LOAD_ELEMENT_TABLE, tshost::ElementTablePayload(t.elements)),
              t.elements.size());
    lib().SendBytes(SIM_MSG_LOAD_DISEASE_TABLE, tshost::DiseaseTablePayload(t.diseases, g));

    tshost::WorldLayout world(7, 5, tshost::Matter(tshost::ElementIndex(t.elements, "Oxygen"), 293.0f, 1.0f));
    world.Fill(0, 0, 7, 1, tshost::Matter(tshost::ElementIndex(t.elements, "Granite"), 290.0f, 2700.0f));
    world.at(3, 1).diseaseIdx = tshost::DiseaseIndex(t.diseases, "Mould spores");
    world.at(3, 1).diseaseCount = 100;
    EXPECT_EQ(lib().SendBytes(SIM_MSG_CREATE_WORLD, tshost::CreateWorldPayload(world)), 35u);
    EXPECT_EQ(lib().SendBytes(SIM_MSG_LOAD_CELL_BYTE_GRID, tshost::CellByteGridPayload(7, 5, uint8_t(1))), 0u);
    for (const auto& r : ReportRecorder::Take()) ADD_FAILURE() << "report: " << r.message;
}

TEST_F(HostkitLibraryTest, DiseaseTableCarriesItsGrowthCountWhereTheLibraryReadsIt) {
    const tshost::SampleTables t = tshost::LoadSampleTables();
    lib().SendBytes(SIM_MSG_LOAD_ELEMENT_TABLE, tshost::ElementTablePayload(t.elements));
    std::vector<tshost::DiseaseDesc> shorter = t.diseases;
    for (auto& d : shorter) d.growth.pop_back();
    lib().SendBytes(SIM_MSG_LOAD_DISEASE_TABLE,
                    tshost::DiseaseTablePayload(shorter, static_cast<int32_t>(t.elements.size()) - 1));
    const std::string expected = "Elements table contains " + std::to_string(t.elements.size()) +
                                 " elements but diseases are only listing " +
                                 std::to_string(t.elements.size() - 1) + " growth info entries";
    EXPECT_TRUE(ReportRecorder::Saw(expected));
}

}  // namespace
}  // namespace tstest
