#include "simlib/world.h"

#include <algorithm>
#include <cstring>
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
    writtenRows.assign(static_cast<size_t>(height), 0);
    // Change records vary with random drift from frame to frame: start with
    // room for a busy frame so steady play does not keep growing the list.
    outputCollector.changedCells.reserve(std::min<size_t>(size_t(numGameCells), kChangedCellsReserve));
}

void World::MarkCellChanged(int32_t cell) { ts::MarkCellChanged(outputCollector, *this, cell); }

void World::MarkRowsWritten(int32_t y0, int32_t y1) {
    y0 = std::max(y0, 0);
    y1 = std::min(y1, height);
    if (y0 < y1) std::memset(writtenRows.data() + y0, 1, size_t(y1 - y0));
}

void World::SyncWrittenRows() {
    const size_t w = size_t(width);
    for (int32_t y = 0; y < height;) {
        if (!writtenRows[size_t(y)]) {
            ++y;
            continue;
        }
        int32_t end = y;
        while (end < height && writtenRows[size_t(end)]) writtenRows[size_t(end++)] = 0;
        cells.CopyPassWrittenFrom(updatedCells, size_t(y) * w, size_t(y) * w, size_t(end - y) * w);
        y = end;
    }
}

}  // namespace ts
