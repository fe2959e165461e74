// Checks of host values in queued messages: a failed check reports why and
// the message is skipped, so no host value ever indexes memory unchecked.
#pragma once

#include <cstdint>

#include "simlib/world.h"

namespace ts {

bool ValidGameCell(const World& world, int32_t gameCell, const char* message);
bool ValidElement(const World& world, uint8_t element, const char* message);
// 255 (no disease) is valid.
bool ValidDisease(const World& world, uint8_t disease, const char* message);

}  // namespace ts
