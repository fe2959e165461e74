// Random payloads for every message id: nothing crashes, reads past its
// payload or corrupts the world (run under the sanitizers in CI).
#include <random>

#include "simlib/messagequeues.h"
#include "unit/inprocesshost.h"

namespace tstest {
namespace {

using Garbage = InProcessHost;

TEST_F(Garbage, RandomPayloadsAreHandledSafely) {
    ASSERT_NE(StartFloorAndWater(12, 9, 6), nullptr);
    std::mt19937 rng(42);
    std::vector<uint32_t> ids;
    for (size_t slot = 0; slot < ts::kUsedQueueCount; ++slot) ids.push_back(ts::QueuedMessageOf(ts::QueueSlot(slot)).id);
    for (uint32_t id : {SIM_MSG_SET_WORLD_FLAGS, SIM_MSG_STORE_RECORD_LIST, SIM_MSG_LOAD_CELL_BYTE_GRID,
                        SIM_MSG_SETTLE_WORLD, SIM_MSG_NO_OP, SIM_MSG_SET_FRAME_PARAMETERS})
        ids.push_back(id);
    std::vector<uint8_t> bytes(64);
    for (int frame = 0; frame < 400; ++frame) {
        for (int m = 0; m < 8; ++m) {
            const uint32_t id = ids[rng() % ids.size()];
            const size_t size = rng() % bytes.size();
            for (auto& b : bytes) b = uint8_t(rng());
            // Plausible cells and indexes half of the time, so messages also act.
            if (size >= 4 && rng() % 2 == 0) {
                const int32_t cell = int32_t(rng() % (12 * 9));
                std::memcpy(bytes.data(), &cell, 4);
            }
            SIM_HandleMessage(id, int32_t(size), bytes.data());
        }
        EndFrame(float(rng() % 4) * 0.1f);
        ASSERT_NE(Exchange(uint8_t(rng() % 2)), nullptr);
    }
    // The world still saves and every cell keeps its invariant.
    EndFrame(0.0f);
    Exchange();
    const FrameResults* r = Exchange();
    ASSERT_NE(r, nullptr);
    for (int32_t g = 0; g < 12 * 9; ++g) {
        const float mass = r->mass[g];
        const float t = r->temperature[g];
        EXPECT_GE(mass, 0.0f) << g;
        if (mass > 0.0f) {
            EXPECT_GT(t, 0.0f) << g;
            EXPECT_LE(t, SIM_MAX_TEMPERATURE) << g;
        }
        EXPECT_LT(r->elementIdx[g], elements.count()) << g;
    }
    uint32_t length = 0;
    EXPECT_NE(SIM_BeginSave(&length), nullptr);
    EXPECT_EQ(length, uint32_t(24 * 14 * 11 + 21));
}

}  // namespace
}  // namespace tstest
