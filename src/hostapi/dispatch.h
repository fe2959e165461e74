// SIM_HandleMessage: queued and frame-direct messages go to the current frame,
// immediate ones to their handler.
#pragma once

#include <cstdint>

#include "common/binarybuffer.h"

namespace ts {

using MessageHandler = uint64_t (*)(BinaryBufferReader& reader);

struct MessageHandlerEntry {
    uint32_t id;
    MessageHandler handler;
};

uint64_t HandleMessage(uint32_t id, int32_t size, const void* data);

}  // namespace ts
