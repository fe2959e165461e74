// Heating and cooling single cells by an amount of energy.
#pragma once

#include "simlib/world.h"
#include "tesselsim/tesselsim.h"

namespace ts {

// Applies one ModifyCellEnergy message to its cell of updatedCells.
void ApplyCellEnergy(World& world, const ModifyCellEnergyPayload& message);

}  // namespace ts
