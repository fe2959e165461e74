// Dense records behind versioned handles: reuse, version wrap, the move of
// the last record into a hole, and handles that must not be trusted.
#include <gtest/gtest.h>

#include "simlib/components/componentmanager.h"
#include "unit/componentworld.h"

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

}  // namespace
}  // namespace tstest
