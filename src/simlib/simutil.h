// The rules by which passes and messages add matter to cells, mix
// temperatures and push a cell's content out of the way.
#pragma once

#include <cstdint>

#include "simlib/cellarrays.h"
#include "simlib/world.h"

namespace ts {

// Mass-weighted mean of two temperatures, clamped into their interval.
float MixTemperature(float m1, float t1, float m2, float t2);

// Adds matter of the cell's own element from `src` state into `dst` (the
// element index is left to the caller).
void AddToCell(World& world, const CellArrays& src, CellArrays& dst, int32_t c, float mass, float temperature,
               uint8_t diseaseIdx, int32_t diseaseCount);

// Moves everything of `src` into `dst` and empties `src`.
void MoveCellContents(World& world, CellArrays& arrays, int32_t src, int32_t dst);

// Moves the gas of cell c (element e) whole into a neighbour; true when moved.
bool DisplaceGas(World& world, CellArrays& arrays, int32_t c, uint8_t e);

// Spreads the liquid of cell c (element e) over the k cells of `list`.
bool SpreadToNeighbours(World& world, int32_t c, uint8_t e, int32_t k, const int32_t* list);

// Pushes the liquid of cell c into its neighbours, clearing a gas neighbour
// out of the way when needed; true when something moved.
bool DisplaceLiquid(World& world, CellArrays& arrays, int32_t c, uint8_t e);

// Empties a cell: vacuum, no mass, no temperature, no disease.
inline void EmptyCell(World& world, CellArrays& arrays, size_t c) {
    arrays.elementIdx[c] = world.vacuumElementIdx;
    arrays.mass[c] = 0.0f;
    arrays.temperature[c] = 0.0f;
    arrays.ClearDisease(c);
}

// The mixing move's second half: the freed cell n takes `amount` of element e
// from c at c's snapshot temperature, with an eighth of c's germs. Returns amount.
float TakeOverFreedCell(World& world, uint8_t e, int32_t c, int32_t n, float amount);

// Exchanges the contents of two cells (element, mass, temperature, disease);
// flags, insulation and strength stay with the cells.
void SwapCells(CellArrays& arrays, size_t a, size_t b);

// Disease count += delta; a count at or below 0 clears the disease.
void AdjustDiseaseCount(CellArrays& arrays, size_t c, int32_t delta);

// Liquid may move into the cell: not closed to liquid, and vacuum or gas.
bool CanLiquidEnter(const World& world, const CellArrays& arrays, size_t c);
// Liquid stops at the cell: solid, or closed to liquid.
bool IsLiquidBlocked(const World& world, const CellArrays& arrays, size_t c);

// Lets matter leave the grid at cell x (a record in releasedContents) when
// the cell below is open to liquid, the cell is a game cell whose release is
// permitted (or emission is forced), and the temperature lies within the
// element's own range. True when released.
bool ReleaseContents(OutputCollector& collector, World& world, int32_t x, uint8_t element, float mass,
                     float temperature, uint8_t diseaseIdx, int32_t diseaseCount, bool force);

inline bool ForceEmission(const World& world) { return (world.frameParameters.forceEmission & 0xFFu) != 0; }

// The smallest normal f32: masses at or below it count as none.
constexpr float kSmallestMass = 1.1754944e-38f;

}  // namespace ts
