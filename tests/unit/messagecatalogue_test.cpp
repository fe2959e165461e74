// The host kit keeps its own message catalogue (it sees only the public
// header); it must say what the library's queue list says.
#include <gtest/gtest.h>

#include <string>

#include "hostkit/payloads.h"
#include "simlib/messagequeues.h"

namespace tstest {
namespace {

TEST(MessageCatalogue, HostKitQueuesWhatTheLibraryQueues) {
    for (size_t slot = 0; slot < ts::kUsedQueueCount; ++slot) {
        const ts::QueuedMessageInfo& queued = ts::QueuedMessageOf(ts::QueueSlot(slot));
        const tshost::MessageInfo* host = tshost::FindMessage(queued.id);
        ASSERT_NE(host, nullptr) << queued.name;
        EXPECT_EQ(host->kind, tshost::MessageKind::Queued) << queued.name;
        EXPECT_EQ(host->size, int32_t(queued.size)) << queued.name;
        EXPECT_EQ("k" + std::string(host->name), queued.name);
    }
    // And nothing else: every other id the host kit knows is handled at once.
    for (const tshost::MessageInfo& m : tshost::MessageCatalogue())
        EXPECT_EQ(m.kind == tshost::MessageKind::Queued, ts::FindQueuedMessage(m.id) != nullptr) << m.name;
}

}  // namespace
}  // namespace tstest
