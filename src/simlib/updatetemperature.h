// Phase changes of cells, and the records a cell's change leaves for the host.
#pragma once

#include <cstdint>

#include "simlib/elementtable.h"
#include "simlib/outputcollector.h"
#include "simlib/world.h"

namespace ts {

// Appends a change record (game cells only) and dirties the cell.
void MarkCellChanged(OutputCollector& collector, World& world, int32_t cell);

// Appends an emittedMatter record when the matter may leave at this cell.
bool EmitMatter(OutputCollector& collector, World& world, int32_t cell, uint8_t elementIdx, float mass,
                float temperature, uint8_t diseaseIdx, int32_t diseaseCount, bool force);

// Turns the cell into its low or high transition element when its
// temperature lies beyond the element's range by more than 3 K. `info` is the
// element the caller saw in the cell. True when a transition took place.
bool CheckStateTransition(World& world, OutputCollector& collector, int32_t cell, const ElementInfo& info);

}  // namespace ts
