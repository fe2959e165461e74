#include "simlib/world.h"

#include <ctime>

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
}

void World::MarkCellChanged(int32_t cell) {
    // Border cells are never reported (the plain conversion would map a right
    // border cell onto the first cell of the next row).
    const int32_t gameCell = ReportableGameCell(cell);
    if (gameCell >= 0) outputCollector.changedCells.push_back(ChangedCellEntry{gameCell, 255, 255, {0, 0}});
    cellDirtyMask[static_cast<size_t>(cell)] |= 31;
}

}  // namespace ts

