// CreateWorld and grid payloads, and the FrameResults view.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "hostkit/frameresults.h"
#include "hostkit/world.h"

namespace {

TEST(HostkitWorld, CreateWorldPayloadParsesBack) {
    tshost::WorldLayout world(3, 2, tshost::Matter(1, 300.0f, 1.5f));
    world.Fill(0, 0, 3, 1, tshost::Matter(4, 280.0f, 1000.0f));  // bottom row
    world.at(2, 1) = tshost::WorldCell{1, 0x40, 17, 99, 300.0f, 1.5f, 310.0f, 1, 6, 12345};  // game cell 5, the last
    EXPECT_EQ(world.GameCell(2, 1), 5);

    // Every end-to-end world goes through this payload; here the parser's side
    // and the exact length.
    const std::string b = tshost::CreateWorldPayload(world);
    ASSERT_EQ(b.size(), 8 + 28 * 6u);
    const auto parsed = tshost::ParseCreateWorldPayload(b);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->width, 3);
    EXPECT_EQ(parsed->height, 2);
    EXPECT_EQ(parsed->cells, world.cells);
    EXPECT_FALSE(tshost::ParseCreateWorldPayload(b.substr(0, b.size() - 1)).has_value());
    EXPECT_FALSE(tshost::ParseCreateWorldPayload(b + 'x').has_value());

    world.cells.pop_back();
    EXPECT_THROW(tshost::CreateWorldPayload(world), std::invalid_argument);
}

TEST(HostkitWorld, FillClipsToTheGrid) {
    tshost::WorldLayout world(4, 3);
    world.Fill(-2, 1, 2, 9, tshost::Matter(7, 1.0f, 1.0f));
    int filled = 0;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            const bool inside = x < 2 && y >= 1;
            EXPECT_EQ(world.at(x, y).elementIdx, inside ? 7 : 255) << x << "," << y;
            filled += inside;
        }
    EXPECT_EQ(filled, 4);
}

TEST(HostkitWorld, ByteGridsHoldOneBytePerGameCell) {
    const std::vector<uint8_t> values{1, 2, 3, 4, 5, 6};
    EXPECT_EQ(tshost::CellByteGridPayload(3, 2, values), std::string("\x01\x02\x03\x04\x05\x06", 6));
    EXPECT_THROW(tshost::CellByteGridPayload(2, 2, values), std::invalid_argument);
    EXPECT_EQ(tshost::CellByteGridPayload(2, 3, uint8_t(9)), std::string(6, '\x09'));
    EXPECT_EQ(tshost::HostCellInput(5, 4, 1).size(), 20u);
}

// (Lists of a given count are read by every end-to-end test; here the
// per-cell spans, and counts that must read as empty.)
TEST(HostkitFrameResults, SpansFollowTheStructure) {
    const int32_t w = 3, h = 2;
    std::vector<uint8_t> element{0, 1, 2, 3, 4, 5};
    std::vector<int32_t> count{0, 0, 0, 0, 0, 77};
    std::vector<float> flow(2 * 6, 0.5f);
    MatterEntry dug[1] = {{2, 6, 255, {0, 0}, 3.0f, 300.0f, 0}};

    FrameResults r{};
    r.frameCount = 2;
    r.elementIdx = element.data();
    r.diseaseCount = count.data();
    r.flowVectors = flow.data();
    r.cellCallbacksCount = 3;  // a count without a list reads as empty
    r.emittedMatterCount = -1;
    r.emittedMatter = dug;

    const tshost::FrameResultsView v(&r, w, h);
    EXPECT_EQ(v.flowVectors().size(), 12u);
    EXPECT_TRUE(v.cellFlags().empty());
    EXPECT_TRUE(v.cellCallbacks().empty());
    EXPECT_TRUE(v.emittedMatter().empty());

    // (x, y) is row-major from the bottom row.
    const tshost::FrameCell c = v.cell(2, 1);
    EXPECT_EQ(c.elementIdx, 5);
    EXPECT_EQ(c.diseaseCount, 77);
    EXPECT_EQ(c.cellFlags, 0);  // not published
    EXPECT_EQ(v.cell(1, 0).elementIdx, 1);
    EXPECT_THROW(v.cell(6), std::out_of_range);
    EXPECT_THROW(v.cell(-1), std::out_of_range);

    const tshost::FrameResultsView none(nullptr, w, h);
    EXPECT_FALSE(none.valid());
    EXPECT_TRUE(none.mass().empty());
}

}  // namespace
