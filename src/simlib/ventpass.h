// The vent pass: cells the host marks as vents lose matter every step.
#pragma once

#include <cstdint>

#include "simlib/passregion.h"
#include "simlib/world.h"

namespace ts {

// The cellByteGrid value that marks a vent.
constexpr uint8_t kVentCell = 255;
// Mass a vent takes from a gas cell each step, in kg; from a liquid cell,
// kVentLiquidScale times as much.
constexpr float kVentedGasMass = 0.02f;
constexpr float kVentLiquidScale = 1000.0f;
// The flow a vent shows the host (left, right, down, up), whatever it took.
constexpr CellFlow kVentFlow{{-0.2f, 0.2f, 0.2f, -0.2f}};

// Every vent cell of `region` that holds gas or liquid loses its share of mass
// (never below 0; element, temperature and germs stay) and shows kVentFlow.
// Does nothing while the world has no cell byte grid.
void VentPass(World& world, const Rect& region);

}  // namespace ts
