#include "simlib/ventpass.h"

#include <algorithm>

namespace ts {

void VentPass(World& world, const Rect& r) {
    if (world.cellByteGrid.empty()) return;
    CellArrays& u = world.updatedCells;
    for (int32_t y = r.y0; y < r.y1; ++y) {
        for (int32_t x = r.x0; x < r.x1; ++x) {
            const size_t c = size_t(y * world.width + x);
            if (world.cellByteGrid[c] != kVentCell) continue;
            const uint8_t state = world.elements.State(u.elementIdx[c]);
            if (state == SIM_STATE_SOLID) continue;
            const float loss = state == SIM_STATE_GAS      ? kVentedGasMass
                               : state == SIM_STATE_LIQUID ? kVentLiquidScale * kVentedGasMass
                                                           : 0.0f;
            u.mass[c] = std::max(u.mass[c] - loss, 0.0f);
            world.cellFlow[c] = kVentFlow;
        }
    }
}

}  // namespace ts
