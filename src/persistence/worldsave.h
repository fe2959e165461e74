// Writing the world as a "SIMSAVE" blob of the current version.
#pragma once

#include <cstdint>

#include "persistence/savebuffer.h"
#include "simlib/world.h"

namespace ts {

// The length of the world's save in bytes (it may not fit the 32-bit length
// the host reads).
uint64_t SaveLength(const World& world);

// Writes the world's save into `buffer`, which holds SaveLength(world) bytes.
void WriteSave(const World& world, SaveBuffer& buffer);

}  // namespace ts
