#include "e2e/hostfixture.h"

namespace tstest {
namespace {

using LifecycleTest = HostTest;

TEST_F(LifecycleTest, MessagesAfterShutdownAnswerZero) {
    lib().SIM_Shutdown();
    SetWorldFlagsPayload flags{0, 1};
    EXPECT_EQ(lib().Send(SIM_MSG_SET_WORLD_FLAGS, flags), 0u);
    EXPECT_EQ(lib().SIM_HandleMessage(SIM_MSG_LOAD_ELEMENT_TABLE, 0, nullptr), 0u);
    lib().SIM_Initialize(&ReportRecorder::Callback);
}

}  // namespace
}  // namespace tstest
