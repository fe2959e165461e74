// Component messages. The components' records are not built yet: their
// queues are emptied so they never grow.
#include "simlib/simframemanager.h"

namespace ts {

void ApplyComponentMessages(World&, PendingFrame& frame) {
    for (size_t slot = kAddBuildingHeatExchange; slot < kUsedQueueCount; ++slot)
        frame.queue(static_cast<QueueSlot>(slot)).Clear();
}

}  // namespace ts
