// The passes that move matter: gas pressure and mixing, liquid flow and
// mixing, and the per-cell settling.
#pragma once

#include <cstdint>

#include "simlib/world.h"

namespace ts {

struct Rect;

// The mixing passes' region: the active region kept three cells from every
// edge, since they read neighbours two cells away.
Rect InnerRegion(const World& world);

// Gas (gasflow.cpp).
float ExchangeGas(World& world, int32_t c, int32_t n);
float MixGas(World& world, uint8_t e, int32_t c, int32_t n, int32_t beyond);
void GasPressurePass(World& world, int32_t scanDirection);
void GasMixingPass(World& world, int32_t scanDirection);

// Liquid (updateliquid.cpp).
void FlowLiquid(World& world, int32_t c);
bool MoveLiquid(World& world, int32_t c, uint8_t e, int32_t n, float amount, uint8_t diseaseIdx,
                int32_t diseaseCount);
float MixLiquid(World& world, uint8_t e, int32_t c, int32_t n, int32_t beyond);
bool PushLiquid(World& world, int32_t n, int32_t beyond);
void LiquidFlowPass(World& world);
void LiquidMixingPass(World& world, int32_t scanDirection);

// Settling (settling.cpp): SettleCell on every cell of `region`, row by row.
void SettleCell(World& world, int32_t c);
void SettlePass(World& world, const Rect& region);
// The fall countdown of an unstable solid, kept in the low five bits of its
// dirty mask (31: changed since the last tick). The solid falls at 0.
int32_t TickSettleTimer(World& world, int32_t c);

}  // namespace ts
