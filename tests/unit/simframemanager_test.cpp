#include <gtest/gtest.h>

#include <tuple>

#include "simlib/simframemanager.h"
#include "unit/testtables.h"

namespace tstest {
namespace {

using ts::EnqueueResult;
using ts::SimFrameManager;

template <class Region>
auto Corners(const Region& r) {
    return std::tuple(r.minX, r.minY, r.maxX, r.maxY);
}

// (Queued messages applied through the frame cycle are the frame cycle tests'.)
TEST(SimFrameManager, TheLaterParametersWinAndEndFrameCloses) {
    SimFrameManager frames;
    ts::PendingFrame& frame = frames.currentFrame();
    // Two SetFrameParameters in one frame: the later one wins.
    SetFrameParametersPayload p1{1, 2, 3, 4, 5}, p2{6, 7, 8, 9, 10};
    frames.EnqueueMessage(SIM_MSG_SET_FRAME_PARAMETERS, &p1, sizeof p1);
    frames.EnqueueMessage(SIM_MSG_SET_FRAME_PARAMETERS, &p2, sizeof p2);
    EXPECT_TRUE(frame.hasFrameParameters);
    EXPECT_EQ(frame.frameParameters.offGasChance, 7.0f);

    const EndFramePayload end{0.2f, 0, 1, 10, 11};
    EXPECT_EQ(frames.EnqueueMessage(SIM_MSG_END_FRAME, &end, sizeof end), EnqueueResult::Handled);
    EXPECT_EQ(frames.readyCount(), 1u);
    EXPECT_NE(&frames.currentFrame(), &frame);
    EXPECT_EQ(frame.dt, 0.2f);
    EXPECT_EQ(Corners(frame.region), std::tuple(1, 2, 11, 12));

    EXPECT_EQ(frames.EnqueueMessage(0x12345678u, &end, sizeof end), EnqueueResult::NotHandled);
    EXPECT_EQ(frames.EnqueueMessage(SIM_MSG_NO_OP, nullptr, 0), EnqueueResult::NotHandled);
}

TEST(SimFrameManager, ShortPayloadsAreRefused) {
    SimFrameManager frames;
    const ModifyCellPayload modify{};
    EXPECT_EQ(frames.EnqueueMessage(SIM_MSG_MODIFY_CELL, &modify, sizeof modify - 1), EnqueueResult::Refused);
    EXPECT_EQ(frames.EnqueueMessage(SIM_MSG_MODIFY_CELL, nullptr, 24), EnqueueResult::Refused);
    EXPECT_EQ(frames.currentFrame().queue(ts::kModifyCell).count(), 0u);
    const EndFramePayload end{};
    EXPECT_EQ(frames.EnqueueMessage(SIM_MSG_END_FRAME, &end, 19), EnqueueResult::Refused);
    EXPECT_EQ(frames.readyCount(), 0u);
    // A longer payload is fine: only the fixed size is copied.
    uint8_t longer[40] = {};
    EXPECT_EQ(frames.EnqueueMessage(SIM_MSG_MODIFY_CELL, longer, sizeof longer), EnqueueResult::Handled);
}

TEST(SimFrameManager, RegionAtTheLimitsOfI32Saturates) {
    SimFrameManager frames;
    ts::PendingFrame& frame = frames.currentFrame();
    const EndFramePayload end{0.0f, INT32_MIN, INT32_MAX - 1, INT32_MAX, INT32_MAX};
    frames.EnqueueMessage(SIM_MSG_END_FRAME, &end, sizeof end);
    EXPECT_EQ(Corners(frame.region), std::tuple(INT32_MIN + 1, INT32_MAX, INT32_MAX, INT32_MAX));
}

}  // namespace
}  // namespace tstest
