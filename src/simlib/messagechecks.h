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

// A finite mass above kMassCap is capped, with a report; other values pass
// unchanged (non-finite ones are refused where they are used).
float CappedMass(float mass, const char* message);
template <class Payload>
Payload WithCappedMass(Payload p, const char* message) {
    p.mass = CappedMass(p.mass, message);
    return p;
}

}  // namespace ts
