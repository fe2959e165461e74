// Germs spreading between neighbour cells and growing or dying in each cell.
#pragma once

#include <cstdint>

#include "simlib/passregion.h"
#include "simlib/world.h"

namespace ts {

// The per-step factor of a half-life h (seconds): 0 for h 0 or NaN, 1 for
// +infinity, else 2^(-kStepSeconds / h).
float HalfLifeFactor(float h);

// The temperature factor of a disease's curve at temperature t.
float TemperatureFactor(const DiseaseRecord& disease, float t);

// How readily cell c spreads its germs (from the snapshot).
float SpreadRate(const World& world, int32_t c);

// One exchange of germs between neighbours a and b: reads the snapshot,
// writes updatedCells.
void SpreadDisease(World& world, int32_t a, int32_t b);

// The spread pass over the active region.
void DiseaseSpreadPass(World& world);

// The growth pass over `region` of updatedCells.
void GrowDisease(World& world, const Rect& region);

}  // namespace ts
