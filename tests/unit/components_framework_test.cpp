// Dense records behind versioned handles: reuse, version wrap, the move of
// the last record into a hole, and handles that must not be trusted; and
// component messages that are refused, through the C exports in-process: the
// reports, and what the host reads back one exchange later (what each cycle
// publishes is the end-to-end components test's).
#include <cmath>

#include "simlib/components/componentmanager.h"
#include "unit/componentworld.h"
#include "unit/inprocesshost.h"

namespace tstest {
namespace {

using ts::handle::Index;
using ts::handle::Version;

struct Tag {
    int value;
};

using Framework = ComponentWorld;

TEST_F(Framework, ReuseGivesTheSameIndexWithTheNextVersion) {
    ts::ComponentManager<Tag> m;
    uint32_t h = m.Add(Tag{0});
    // 256 removals of one slot bring its version back to 0.
    for (uint32_t i = 1; i <= 256; ++i) {
        ASSERT_EQ(m.Remove(h), 0x00FFFFFFu);
        h = m.Add(Tag{int(i)});
        ASSERT_EQ(h, ts::handle::Make(0, i % 256));
    }
    EXPECT_EQ(m.Find(h)->value, 256);
    EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(Framework, RemovalMovesTheLastRecordAndKeepsHandlesValid) {
    ts::ComponentManager<Tag> m;
    uint32_t h[5];
    for (int i = 0; i < 5; ++i) h[i] = m.Add(Tag{10 + i});
    m.Remove(h[1]);
    m.Remove(h[3]);
    ASSERT_EQ(m.count(), 3u);
    // Every live handle still addresses its own record, densely stored.
    for (int i : {0, 2, 4}) {
        ASSERT_TRUE(m.IsLive(h[i]));
        EXPECT_EQ(m.Get(h[i])->value, 10 + i);
    }
    for (size_t d = 0; d < m.count(); ++d) EXPECT_EQ(m.slotToDense[Index(m.handles[d])], d);
    // Freed slots come back last-freed first.
    EXPECT_EQ(Index(m.Add(Tag{0})), 3u);
    EXPECT_EQ(Index(m.Add(Tag{0})), 1u);
    EXPECT_EQ(Index(m.Add(Tag{0})), 5u);
}

// Stale, unknown and not yet issued handles: trusting any of them would
// release or read another record. A freed slot already knows the handle it
// will hand out next; that handle must not pass for live before it is issued.
TEST_F(Framework, HandlesThatAreNotLiveAreRefusedWithoutHarm) {
    ts::ComponentManager<Tag> m;
    const uint32_t a = m.Add(Tag{1});
    m.Remove(a);
    const uint32_t next = ts::handle::Make(Index(a), Version(a) + 1);
    EXPECT_FALSE(m.IsLive(next));
    EXPECT_EQ(m.Find(next), nullptr);
    EXPECT_EQ(m.Remove(next), next);  // no record is left: nothing to read
    const uint32_t b = m.Add(Tag{2});  // takes slot 0 with version 1: now it is issued
    const uint32_t c = m.Add(Tag{3});
    EXPECT_EQ(b, next);
    const size_t before = ReportCount();
    EXPECT_EQ(m.Remove(a), a);  // slot 0 with version 0: trusting it would release b
    EXPECT_EQ(m.Remove(0x00000007u), 0x00000007u);  // beyond the slots
    EXPECT_EQ(m.Remove(SIM_NO_HANDLE), SIM_NO_HANDLE);  // no handle: nothing, silently
    EXPECT_EQ(ReportCount(), before + 2);
    EXPECT_TRUE(Reported("not live"));
    EXPECT_EQ(m.Find(b)->value, 2);
    m.Remove(b);
    const uint32_t nextOfB = ts::handle::Make(Index(b), Version(b) + 1);
    EXPECT_EQ(m.Remove(nextOfB), nextOfB);  // must not release c, now in b's place
    ASSERT_EQ(m.count(), 1u);
    EXPECT_EQ(m.Find(c)->value, 3);
    EXPECT_EQ(m.Find(nextOfB), nullptr);
    EXPECT_EQ(m.Get(a), nullptr);
    EXPECT_TRUE(Reported("Assert failed: IsLive(handle)"));
}

// --- refused component messages ---------------------------------------------

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
