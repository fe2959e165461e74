// Thousands of frames of random host traffic: the handshake never deadlocks,
// results keep their one-exchange latency and no report is raised.
#include <chrono>
#include <random>

#include "unit/inprocesshost.h"

namespace tstest {
namespace {

using Stress = InProcessHost;

TEST_F(Stress, RandomTrafficNeverDeadlocks) {
    ASSERT_NE(StartFloorAndWater(24, 16, 24), nullptr);
    std::mt19937 rng(1234);
    auto cell = [&] { return int32_t(rng() % uint32_t(24 * 16)); };
    uint32_t nextCallback = 1;
    uint32_t pendingDigs = 0;  // callbacks expected in the results of the next-but-one exchange
    uint32_t seenCallbacks = 0;
    uint32_t sentCallbacks = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int frame = 0; frame < 3000 && std::chrono::steady_clock::now() < deadline; ++frame) {
        const int messages = int(rng() % 6);
        for (int m = 0; m < messages; ++m) {
            switch (rng() % 5) {
                case 0:
                    Post(SIM_MSG_SET_CELL_INSULATION, SetCellInsulationPayload{cell(), float(rng() % 100) / 100.0f});
                    break;
                case 1:
                    Post(SIM_MSG_DIG_CELL, DigCellPayload{cell(), nextCallback++, uint8_t(rng() % 2), {0, 0, 0}});
                    ++pendingDigs;
                    break;
                case 2:
                    Post(SIM_MSG_ADD_MASS, AddMassPayload{cell(), SIM_NO_CALLBACK, 0.5f, 310.0f, 0, kOxygen, 255,
                                                          {0, 0}});
                    break;
                case 3:
                    Post(SIM_MSG_MODIFY_CELL_ENERGY,
                         ModifyCellEnergyPayload{cell(), float(int(rng() % 200) - 100), 400.0f, 0});
                    break;
                default:
                    Post(SIM_MSG_SET_FRAME_PARAMETERS, SetFrameParametersPayload{0.001f, 0.01f, 0.001f, 0.001f, 0});
            }
        }
        // Closes 0..2 frames with assorted dt, then maybe exchanges.
        const int ends = int(rng() % 3);
        for (int e = 0; e < ends; ++e) EndFrame(float(rng() % 7) * 0.1f);
        if (ends == 0) {
            // Messages wait in the current frame until a later EndFrame.
            continue;
        }
        sentCallbacks += pendingDigs;
        pendingDigs = 0;
        if (rng() % 4 != 0) {
            const FrameResults* r = Exchange();
            ASSERT_NE(r, nullptr);
            seenCallbacks += uint32_t(r->cellCallbacksCount);
        }
    }
    // Two more exchanges bring every closed frame's results back.
    EndFrame(0.0f);
    seenCallbacks += uint32_t(Exchange()->cellCallbacksCount);
    seenCallbacks += uint32_t(Exchange()->cellCallbacksCount);
    EXPECT_EQ(seenCallbacks, sentCallbacks);
    EXPECT_EQ(ReportCount(), 0u);
}

}  // namespace
}  // namespace tstest
