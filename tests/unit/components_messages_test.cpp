// Component messages that are refused, through the C exports in-process: the
// reports, and what the host reads back one exchange later (what each cycle
// publishes is the end-to-end components test's).
#include <cmath>

#include "unit/inprocesshost.h"

namespace tstest {
namespace {

using ComponentFrames = InProcessHost;

uint32_t HandleOf(const FrameResults* r, uint32_t callbackId) {
    for (int32_t i = 0; i < r->componentCallbacksCount; ++i)
        if (r->componentCallbacks[i].callbackId == callbackId) return r->componentCallbacks[i].handle;
    ADD_FAILURE() << "no callback " << callbackId;
    return SIM_NO_HANDLE;
}

TEST_F(ComponentFrames, BadMessagesAreRefusedWithReports) {
    WorldLayout world(4, 3, Matter(kOxygen, 300.0f, 0.01f));  // over a granite floor, all at 300 K
    world.Fill(0, 0, 4, 1, Matter(kGranite, 300.0f, 1.0f));
    Start(world);
    Post(SIM_MSG_ADD_ELEMENT_CHUNK, AddElementChunkPayload{12, 1, 1.0f, 300.0f, 1.0f, 1.0f, 1.0f, kGranite, {}});
    Post(SIM_MSG_ADD_ELEMENT_CHUNK, AddElementChunkPayload{0, 2, NAN, 300.0f, 1.0f, 1.0f, 1.0f, kGranite, {}});
    Post(SIM_MSG_ADD_ELEMENT_CHUNK, AddElementChunkPayload{0, 3, 1.0f, 300.0f, 1.0f, 0.0f, 1.0f, kGranite, {}});
    Post(SIM_MSG_ADD_ELEMENT_CHUNK, AddElementChunkPayload{0, 4, 1.0f, 300.0f, 1.0f, 1.0f, 1.0f, 200, {}});
    Post(SIM_MSG_ADD_ELEMENT_CHUNK, AddElementChunkPayload{0, 5, 1.0f, 300.0f, 1.0f, 1.0f, 1.0f, kGranite, {}});
    Post(SIM_MSG_ADD_MASS_CONSUMER, AddMassConsumerPayload{-1, 7, 1, 0, kWater, 0});
    Post(SIM_MSG_ADD_MASS_EMITTER, AddMassEmitterPayload{1.0f, 8, SIM_NO_CALLBACK, SIM_NO_CALLBACK});
    Post(SIM_MSG_ADD_DISEASE_EMITTER, AddDiseaseEmitterPayload{9});
    const FrameResults* r = RunFrame(0.0f);
    ASSERT_EQ(r->componentCallbacksCount, 8);
    for (uint32_t id : {1u, 2u, 3u, 4u, 7u}) EXPECT_EQ(HandleOf(r, id), SIM_NO_HANDLE) << id;
    const uint32_t chunk = HandleOf(r, 5), emitter = HandleOf(r, 8), germs = HandleOf(r, 9);
    EXPECT_TRUE(Reported("outside the host grid"));
    EXPECT_TRUE(Reported("not finite"));
    EXPECT_TRUE(Reported("element index 200 beyond the table"));

    const size_t before = ReportCount();
    Post(SIM_MSG_MOVE_ELEMENT_CHUNK, MoveElementChunkPayload{chunk, 99});
    Post(SIM_MSG_MODIFY_ELEMENT_CHUNK_ENERGY, ModifyElementChunkEnergyPayload{chunk, INFINITY});
    Post(SIM_MSG_SET_ELEMENT_CHUNK_DATA, SetElementChunkDataPayload{chunk, -5.0f, 1.0f});  // silent check
    Post(SIM_MSG_MODIFY_ELEMENT_CHUNK_ENERGY, ModifyElementChunkEnergyPayload{chunk | 0x03000000u, 5.0f});  // stale
    Post(SIM_MSG_MODIFY_MASS_EMITTER,
         ModifyMassEmitterPayload{emitter, 0, 0.2f, 1.0f, 300.0f, 1.0f, 5, kOxygen, 1, 9, 0});  // no disease 9
    Post(SIM_MSG_MODIFY_MASS_EMITTER,
         ModifyMassEmitterPayload{emitter, 0, 0.2f, 1.0f, 0.0f, 1.0f, 0, kOxygen, 1, 255, 0});  // matter at 0 K
    Post(SIM_MSG_MODIFY_DISEASE_EMITTER, ModifyDiseaseEmitterPayload{germs, 0, 7, 1, {}, 0.2f, 5});
    Post(SIM_MSG_REMOVE_ELEMENT_CHUNK, RemoveComponentPayload{chunk | 0x01000000u, 10});  // stale
    r = RunFrame(0.2f);
    EXPECT_EQ(ReportCount(), before + 6);
    EXPECT_TRUE(Reported("disease index 9 beyond the table"));
    EXPECT_TRUE(Reported("disease index 7 beyond the table"));
    EXPECT_TRUE(Reported("emission temperature"));
    EXPECT_TRUE(Reported("is not live"));
    ASSERT_EQ(r->componentCallbacksCount, 1);
    EXPECT_EQ(r->componentCallbacks[0].handle, SIM_NO_HANDLE);
    // The chunk lives on, unchanged by what was refused; the outlet never got going.
    ASSERT_EQ(r->elementChunkOutputsCount, 1);
    const ElementChunkOutput out = r->elementChunkOutputs[0];
    EXPECT_EQ(out.temperature, 300.0f);
    const MassEmitterOutput idle = r->massEmitterOutputs[0];
    EXPECT_EQ(idle.mass, 0.0f);
    // Every queue was emptied: a further frame brings no new reports.
    RunFrame(0.2f);
    EXPECT_EQ(ReportCount(), before + 6);
}

}  // namespace
}  // namespace tstest
