// Settling: the per-cell pass after venting, on updatedCells.
#pragma once

#include <cstdint>

#include "simlib/passregion.h"
#include "simlib/world.h"

namespace ts {

// Settles one cell by the state of its element: vacuum takes what its solid
// neighbours sublimate, liquids and gases settle, unstable solids fall.
void SettleCell(World& world, int32_t c);
// SettleCell on every cell of `region`, row by row from the bottom, reading
// what the cells before it wrote.
void SettlePass(World& world, const Rect& region);
// The fall countdown of an unstable solid, kept in the low five bits of its
// dirty mask (31: changed since the last tick). The solid falls at 0.
int32_t TickSettleTimer(World& world, int32_t c);

}  // namespace ts
