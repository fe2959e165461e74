// Host cell modifications. The add/replace/displace rules are not built yet:
// the frame's ModifyCell queue is emptied so it never grows.
#include "simlib/simframemanager.h"

namespace ts {

void ApplyCellModifications(World&, MessageQueue& queue) { queue.Clear(); }

}  // namespace ts
