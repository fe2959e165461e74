#include "simlib/world.h"

#include <algorithm>
#include <ctime>

#include "simlib/updatetemperature.h"

namespace ts {

World::World(int32_t w, int32_t h, uint8_t flags, const ElementTable& elementTable,
             const DiseaseTable& diseaseTable)
    : width(w),
      height(h),
      numGameCells((w - 2) * (h - 2)),
      worldFlags(flags),
      sinkElementIdx(elementTable.FindElementIndex(SIM_SINK_ELEMENT_ID)),
      vacuumElementIdx(elementTable.FindElementIndex(SIM_VACUUM_ELEMENT_ID)),
      borderElementIdx(elementTable.FindElementIndex(SIM_BORDER_ELEMENT_ID)),
      activeRegion{0, 0, w - 1, h - 1},
      components(CreateComponentRegistry()),
      randomSeed(static_cast<uint32_t>(std::time(nullptr))),
      elements(elementTable),
      diseases(diseaseTable) {
    const size_t n = cellCount();
    cells.Assign(n);
    updatedCells.Assign(n);
    cellAccumulator.assign(n, 0.0f);
    cellFlow.assign(n, CellFlow{});
    targetTemperature.assign(n, 0.0f);
    cellDirtyMask.assign(n, 31);
    releasePermit.assign(static_cast<size_t>(numGameCells), 0);
    passRows.assign(2 * static_cast<size_t>(width), 0);
    // Change records vary with random drift from frame to frame: start with
    // room for a busy frame so steady play does not keep growing the list.
    outputCollector.changedCells.reserve(std::min<size_t>(size_t(numGameCells), kChangedCellsReserve));
}

void World::MarkCellChanged(int32_t cell) { ts::MarkCellChanged(outputCollector, *this, cell); }

}  // namespace ts
