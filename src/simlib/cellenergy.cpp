#include "simlib/cellenergy.h"

#include <algorithm>
#include <cstdio>

#include "simlib/updatetemperature.h"

namespace ts {

void ApplyCellEnergy(World& world, const ModifyCellEnergyPayload& message) {
    const int32_t c = world.GameToSim(message.gameCell);
    CellArrays& u = world.updatedCells;
    const size_t i = size_t(c);
    const ElementInfo& info = world.elements.info[u.elementIdx[i]];
    if (StateOf(info.stateFlags) == SIM_STATE_VACUUM || !(u.mass[i] > 0.001f) || !(message.maxTemperature > 0.0f))
        return;
    const float delta = message.kilojoules / (u.mass[i] * info.specificHeatCapacity);
    const float t = u.temperature[i];
    // Heating stops at maxTemperature (or where the cell already is); cooling is not limited.
    float result = std::min(std::max(t, message.maxTemperature), t + delta);
    if (!(result > 0.0f) || result > SIM_MAX_TEMPERATURE) {
        std::fprintf(stderr,
                     "INVALID TEMPERATURE FOR CELL ENERGY MODIFICATION:\nID(%d), kj(%f), maxT(%f), cell(%d), "
                     "mass(%f), deg. chg(%f), temp(%f)\n",
                     message.id, double(message.kilojoules), double(message.maxTemperature), c, double(u.mass[i]),
                     double(delta), double(t));
        // NaN (0 heat capacity) ends at the floor, like any other invalid result.
        result = result > SIM_MAX_TEMPERATURE ? SIM_MAX_TEMPERATURE : (result > 1.0f ? result : 1.0f);
    }
    u.temperature[i] = result;
    CheckStateTransition(world, world.outputCollector, c, info);
}

}  // namespace ts
