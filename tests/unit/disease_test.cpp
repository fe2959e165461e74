#include <gtest/gtest.h>

#include "unit/testtables.h"

namespace tstest {
namespace {

using ts::AddDisease;
using ts::CellArrays;

struct Cell {
    CellArrays arrays;
    Cell(uint8_t d, int32_t n, uint8_t age = 7) {
        arrays.Assign(1);
        arrays.diseaseIdx[0] = d;
        arrays.diseaseCount[0] = n;
        arrays.diseaseAge[0] = age;
        arrays.diseaseGrowthRemainder[0] = 0.25f;
    }
    uint8_t d() const { return arrays.diseaseIdx[0]; }
    int32_t n() const { return arrays.diseaseCount[0]; }
    uint8_t age() const { return arrays.diseaseAge[0]; }
};

TEST(AddDisease, SameAndNewDisease) {
    const auto diseases = StandardDiseases();
    Cell same(0, 100);
    AddDisease(same.arrays, 0, 0, 100, diseases);
    EXPECT_EQ(same.d(), 0);
    EXPECT_EQ(same.n(), 200);
    EXPECT_EQ(same.age(), 7);  // unchanged for the same disease

    Cell empty(255, 0);
    AddDisease(empty.arrays, 0, 1, 50, diseases);
    EXPECT_EQ(empty.d(), 1);
    EXPECT_EQ(empty.n(), 50);
    EXPECT_EQ(empty.age(), 0);

    // A disease index of 255 as the addition changes nothing.
    Cell none(0, 10);
    AddDisease(none.arrays, 0, 255, 99, diseases);
    EXPECT_EQ(none.d(), 0);
    EXPECT_EQ(none.n(), 10);
}

TEST(AddDisease, Competition) {
    auto diseases = StandardDiseases();
    // Equal weights: 100 of X receiving 50 of Y keeps X with 150 germs.
    Cell a(0, 100);
    AddDisease(a.arrays, 0, 1, 50, diseases);
    EXPECT_EQ(a.d(), 0);
    EXPECT_EQ(a.n(), 150);
    EXPECT_EQ(a.age(), 7);

    // The newcomer wins when it is stronger: r = trunc(100 - (300/100) * 300) = -800,
    // but never with more germs than the 400 the two bring.
    Cell b(0, 100);
    AddDisease(b.arrays, 0, 1, 300, diseases);
    EXPECT_EQ(b.d(), 1);
    EXPECT_EQ(b.n(), 400);
    EXPECT_EQ(b.age(), 0);

    // Exactly cancelling leaves no disease at all.
    Cell c(0, 100);
    AddDisease(c.arrays, 0, 1, 100, diseases);
    EXPECT_EQ(c.d(), 255);
    EXPECT_EQ(c.n(), 0);
    EXPECT_EQ(c.age(), 0);
    EXPECT_EQ(c.arrays.diseaseGrowthRemainder[0], 0.0f);

    // Weights scale the strengths: X weight 4, 10 of X vs 30 of Y (weight 1):
    // sOld 40 > sNew 30, r = trunc(30 - (40/30) * 10) = 16 -> Y with 16.
    diseases.records[0].competitionWeight = 4.0f;
    Cell d(0, 10);
    AddDisease(d.arrays, 0, 1, 30, diseases);
    EXPECT_EQ(d.d(), 1);
    EXPECT_EQ(d.n(), 16);
}

TEST(AddDisease, ZeroDeltaChangesNothing) {
    const auto diseases = StandardDiseases();
    Cell a(0, 100);
    AddDisease(a.arrays, 0, 1, 0, diseases);  // would divide by zero
    EXPECT_EQ(a.d(), 0);
    EXPECT_EQ(a.n(), 100);
    EXPECT_EQ(a.age(), 7);
    EXPECT_EQ(a.arrays.diseaseGrowthRemainder[0], 0.25f);
}

TEST(AddDisease, NegativeCountsClearTheCell) {
    const auto diseases = StandardDiseases();
    Cell a(0, 3);
    AddDisease(a.arrays, 0, 0, -5, diseases);
    EXPECT_EQ(a.d(), 255);
    EXPECT_EQ(a.n(), 0);
    EXPECT_EQ(a.age(), 0);
    EXPECT_EQ(a.arrays.diseaseGrowthRemainder[0], 0.0f);
}

TEST(MergeDisease, MatchesAddDisease) {
    const auto diseases = StandardDiseases();
    auto m = ts::MergeDisease(0, 100, 1, 50, diseases);
    EXPECT_EQ(m.index, 0);
    EXPECT_EQ(m.count, 150);
    m = ts::MergeDisease(0, 100, 1, 300, diseases);
    EXPECT_EQ(m.index, 1);
    EXPECT_EQ(m.count, 400);
    m = ts::MergeDisease(255, 0, 1, 30, diseases);
    EXPECT_EQ(m.index, 1);
    EXPECT_EQ(m.count, 30);
    m = ts::MergeDisease(0, 12, 255, 0, diseases);
    EXPECT_EQ(m.index, 0);
    EXPECT_EQ(m.count, 12);
    m = ts::MergeDisease(1, 12, 1, 30, diseases);
    EXPECT_EQ(m.count, 42);
}

std::string DiseasePayload(int32_t diseases, int32_t growth, int extraBytes = 0) {
    std::string out;
    out.append(reinterpret_cast<const char*>(&diseases), 4);
    out.append(reinterpret_cast<const char*>(&growth), 4);
    for (int32_t i = 0; i < diseases; ++i) {
        const std::string name = "germ" + std::to_string(i);
        const int32_t length = int32_t(name.size());
        out.append(reinterpret_cast<const char*>(&length), 4);
        out += name;
        DiseaseRecordHeader header{};
        header.id = 0x100u + uint32_t(i);
        header.competitionWeight = 1.5f;
        header.temperatureThresholds[3] = 400.0f;
        out.append(reinterpret_cast<const char*>(&header), sizeof header);
        for (int32_t e = 0; e < growth; ++e) {
            DiseaseElementGrowth g{};
            g.spreadRate = 0.1f * float(e);
            g.minSpreadCount = e;
            g.minSpreadAge = uint8_t(e + 1);
            out.append(reinterpret_cast<const char*>(&g), sizeof g);
        }
    }
    out.append(size_t(extraBytes), '\0');
    return out;
}

TEST(DiseaseTable, ParseAndRefusals) {
    ts::DiseaseTable table;
    std::string error;
    const std::string good = DiseasePayload(2, 3);
    ts::BinaryBufferReader reader(good.data(), int64_t(good.size()));
    ASSERT_TRUE(ts::ParseDiseaseTable(reader, 3, table, error)) << error;
    ASSERT_EQ(table.count(), 2);
    EXPECT_EQ(table.diseaseNames[1], "germ1");
    EXPECT_EQ(table.records[1].competitionWeight, 1.5f);
    EXPECT_EQ(table.records[1].temperatureThresholds[3], 400.0f);
    EXPECT_EQ(table.records[0].minSpreadAge[2], 3);
    EXPECT_EQ(table.records[0].minSpreadCount[2], 2);
    EXPECT_FLOAT_EQ(table.records[0].spreadRate[1], 0.1f);
    EXPECT_EQ(table.FindDiseaseIndex(0x101), 1);
    EXPECT_EQ(table.FindDiseaseIndex(0x999), 255);

    // Growth-info count differing from the element count.
    ts::BinaryBufferReader mismatch(good.data(), int64_t(good.size()));
    EXPECT_FALSE(ts::ParseDiseaseTable(mismatch, 4, table, error));
    EXPECT_EQ(error, "Elements table contains 4 elements but diseases are only listing 3 growth info entries");
    // Bytes left over.
    const std::string extra = DiseasePayload(2, 3, 1);
    ts::BinaryBufferReader leftover(extra.data(), int64_t(extra.size()));
    EXPECT_FALSE(ts::ParseDiseaseTable(leftover, 3, table, error));
    // Truncated anywhere.
    for (size_t cut = 0; cut < good.size(); cut += 7) {
        ts::BinaryBufferReader shortReader(good.data(), int64_t(cut));
        EXPECT_FALSE(ts::ParseDiseaseTable(shortReader, 3, table, error)) << cut;
    }
    // A count that claims more diseases than the payload could hold.
    const std::string lying = DiseasePayload(200, 3).substr(0, 200);
    ts::BinaryBufferReader lyingReader(lying.data(), int64_t(lying.size()));
    EXPECT_FALSE(ts::ParseDiseaseTable(lyingReader, 3, table, error));
}

}  // namespace
}  // namespace tstest
