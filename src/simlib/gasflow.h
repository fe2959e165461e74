// Gas flow: pressure evens out between neighbour cells of one gas (or a gas
// and vacuum), then unlike gases mix by trading places.
#pragma once

#include <cstdint>

#include "simlib/world.h"

namespace ts {

// One pressure exchange between cells c and n (from the snapshot into
// updatedCells); returns the flow from c to n, negative when n gives.
float ExchangeGas(World& world, int32_t c, int32_t n);
// Gas e of cell c takes over neighbour n, whose gas moves on to `beyond`;
// returns the mass moved.
float MixGas(World& world, uint8_t e, int32_t c, int32_t n, int32_t beyond);

// The pressure pass over the active region, scanning rows in `scanDirection`.
void GasPressurePass(World& world, int32_t scanDirection);
// The mixing pass over InnerRegion.
void GasMixingPass(World& world, int32_t scanDirection);

}  // namespace ts
