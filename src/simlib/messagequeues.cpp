#include "simlib/messagequeues.h"

#include "tesselsim/tesselsim.h"

namespace ts {

namespace {

#define TS_QUEUED(slot, ID, Payload) {ID, slot, sizeof(Payload), #slot},
constexpr QueuedMessageInfo kQueued[kUsedQueueCount] = {TS_QUEUED_MESSAGES(TS_QUEUED)};
#undef TS_QUEUED

}  // namespace

const QueuedMessageInfo* FindQueuedMessage(uint32_t id) {
    for (const QueuedMessageInfo& info : kQueued)
        if (info.id == id) return &info;
    return nullptr;
}

const QueuedMessageInfo& QueuedMessageOf(QueueSlot slot) { return kQueued[slot]; }

}  // namespace ts
