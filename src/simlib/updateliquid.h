// Liquid flow: liquids fall, spread, push up and slide; then unlike liquids
// mix by trading places.
#pragma once

#include <cstdint>

#include "simlib/world.h"

namespace ts {

// The flow of liquid cell c: fall, spread left and right, push up, slide.
void FlowLiquid(World& world, int32_t c);
// Moves `amount` of liquid e (with its germs) from c into n; false when n cannot take it.
bool MoveLiquid(World& world, int32_t c, uint8_t e, int32_t n, float amount, uint8_t diseaseIdx,
                int32_t diseaseCount);
// Liquid e of cell c takes over neighbour n, whose liquid is pushed to `beyond`;
// returns the mass moved.
float MixLiquid(World& world, uint8_t e, int32_t c, int32_t n, int32_t beyond);
// Pushes the liquid of n into `beyond`; false when it does not fit.
bool PushLiquid(World& world, int32_t n, int32_t beyond);

// The flow pass over the active region.
void LiquidFlowPass(World& world);
// The mixing pass over InnerRegion.
void LiquidMixingPass(World& world, int32_t scanDirection);

}  // namespace ts
