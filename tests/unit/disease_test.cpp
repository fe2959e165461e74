// Germ arithmetic of one cell (AddDisease, and MergeDisease where it must
// agree) and the disease table's parser.
#include <gtest/gtest.h>

#include "unit/testtables.h"

namespace tstest {
namespace {

TEST(AddDisease, SameNewCompetingAndCancelling) {
    const struct {
        const char* name;
        int d, n, add, delta;
        float weightX;                 // competition weight of disease 0 (disease 1 has 1)
        int dAfter, nAfter, ageAfter;  // the cell starts at age 7
        bool mergeAgrees;              // MergeDisease gives the same index and count
    } cases[] = {
        {"same disease adds", 0, 100, 0, 100, 1.0f, 0, 200, 7, true},
        {"into a clean cell", 255, 0, 1, 50, 1.0f, 1, 50, 0, true},
        {"index 255 adds nothing", 0, 10, 255, 99, 1.0f, 0, 10, 7, true},
        {"equal weights: the holder keeps 150", 0, 100, 1, 50, 1.0f, 0, 150, 7, true},
        // r = trunc(100 - (300 / 100) x 300) = -800, capped at the 400 the two bring.
        {"a stronger newcomer wins", 0, 100, 1, 300, 1.0f, 1, 400, 0, true},
        {"exactly cancelling clears", 0, 100, 1, 100, 1.0f, 255, 0, 0, true},
        // sOld 40 > sNew 30: r = trunc(30 - (40 / 30) x 10) = 16 for the newcomer.
        {"weights scale the strengths", 0, 10, 1, 30, 4.0f, 1, 16, 0, true},
        {"a delta of 0 changes nothing", 0, 100, 1, 0, 1.0f, 0, 100, 7, false},  // would divide by zero
        {"a negative count clears", 0, 3, 0, -5, 1.0f, 255, 0, 0, false},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        auto diseases = StandardDiseases();
        diseases.records[0].competitionWeight = k.weightX;
        ts::CellArrays cell;
        cell.Assign(1);
        cell.diseaseIdx[0] = k.d;
        cell.diseaseCount[0] = k.n;
        cell.diseaseAge[0] = 7;
        cell.diseaseGrowthRemainder[0] = 0.25f;
        ts::AddDisease(cell, 0, k.add, k.delta, diseases);
        EXPECT_EQ(cell.diseaseIdx[0], k.dAfter);
        EXPECT_EQ(cell.diseaseCount[0], k.nAfter);
        EXPECT_EQ(cell.diseaseAge[0], k.ageAfter);
        EXPECT_EQ(cell.diseaseGrowthRemainder[0], k.dAfter == 255 ? 0.0f : 0.25f);
        if (!k.mergeAgrees) continue;
        const ts::DiseaseAmount m = ts::MergeDisease(k.d, k.n, k.add, k.delta, diseases);
        EXPECT_EQ(m.index, k.dAfter == 255 ? k.d : k.dAfter);  // no germs left: the merge keeps the holder's index
        EXPECT_EQ(m.count, k.nAfter);
    }
}

TEST(DiseaseTable, ParseAndRefusals) {
    // (Fields read back are the host kit tables test's.)
    const std::string good = DiseaseTablePayload(StandardDiseases(3), 3);
    ts::DiseaseTable table;
    std::string error;
    const auto parse = [&](const std::string& bytes, size_t length, int32_t elements) {
        ts::BinaryBufferReader reader(bytes.data(), int64_t(length));
        return ts::ParseDiseaseTable(reader, elements, table, error);
    };
    ASSERT_TRUE(parse(good, good.size(), 3)) << error;
    ASSERT_EQ(table.count(), 2);
    EXPECT_EQ(table.FindDiseaseIndex(0xD2), 1);
    EXPECT_EQ(table.FindDiseaseIndex(0x999), 255);

    // Growth-info count differing from the element count.
    EXPECT_FALSE(parse(good, good.size(), 4));
    EXPECT_EQ(error, "Elements table contains 4 elements but diseases are only listing 3 growth info entries");
    // Bytes left over.
    EXPECT_FALSE(parse(good + '\0', good.size() + 1, 3));
    // Truncated anywhere.
    for (size_t cut = 0; cut < good.size(); cut += 7) EXPECT_FALSE(parse(good, cut, 3)) << cut;
    // A count that claims more diseases than the payload could hold.
    std::string lying = good;
    lying[0] = char(200);
    EXPECT_FALSE(parse(lying, lying.size(), 3));
}

}  // namespace
}  // namespace tstest
