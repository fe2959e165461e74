#include "simlib/gamedata.h"

#include <algorithm>

#include "common/report.h"

namespace ts {

GameData::GameData(uint32_t w, uint32_t h) : gameWidth(w), gameHeight(h) {
    const size_t n = cellCount();
    cells.Assign(n);
    accumulatorCopy.assign(n, 0.0f);
    hostCellInput.assign(n, 0);
    flowVectors.assign(2 * n, 0.0f);
    liquidColours.assign(n, 0);
    lightLevels.assign(n, 0);
    changedCells.reserve(std::min(n, kChangedCellsReserve));
}

void GameData::CopyCellsFrom(const World& world) {
    for (uint32_t r = 0; r < gameHeight; ++r)
        cells.CopyRange(world.updatedCells, size_t(r + 1) * size_t(world.width) + 1, size_t(r) * gameWidth,
                        gameWidth);
}

namespace {

// FrameResults is packed: its members are assigned directly, never bound to
// references (the pointers sit at 4-byte offsets).
#define TS_SET_LIST(field, list)                         \
    out.field##Count = static_cast<int32_t>(list.size()); \
    out.field = list.empty() ? nullptr : reinterpret_cast<decltype(out.field)>(list.data())

template <class T>
const T* CellPointer(const std::vector<T>& array) {
    return array.empty() ? nullptr : array.data();
}

}  // namespace

FrameResults* BuildFrameResults(const GameData& g, FrameResults& out) {
    out.frameCount = static_cast<int32_t>(g.frameCount);
    out.elementIdx = CellPointer(g.cells.elementIdx);
    out.temperature = CellPointer(g.cells.temperature);
    out.mass = CellPointer(g.cells.mass);
    out.cellFlags = CellPointer(g.cells.cellFlags);
    out.insulation = CellPointer(g.cells.insulation);
    out.strengthModifier = CellPointer(g.cells.strengthModifier);
    out.diseaseIdx = CellPointer(g.cells.diseaseIdx);
    out.diseaseCount = CellPointer(g.cells.diseaseCount);
    TS_SET_LIST(solidChanges, g.solidChanges);
    TS_SET_LIST(liquidChangedCells, g.liquidChangedCells);
    TS_SET_LIST(solidChangedCells, g.solidChangedCells);
    TS_SET_LIST(changedCells, g.changedCells);
    TS_SET_LIST(cellCallbacks, g.cellCallbacks);
    TS_SET_LIST(releasedContents, g.releasedContents);
    TS_SET_LIST(dugMatter, g.dugMatter);
    TS_SET_LIST(emittedMatter, g.emittedMatter);
    TS_SET_LIST(sublimationEvents, g.sublimationEvents);
    TS_SET_LIST(fallingSolids, g.fallingSolids);
    TS_SET_LIST(pressureDamage, g.pressureDamage);
    TS_SET_LIST(buildingOutputs, g.buildingOutputs);
    TS_SET_LIST(consumeMassResults, g.consumeMassResults);
    TS_SET_LIST(addMassResults, g.addMassResults);
    TS_SET_LIST(consumeDiseaseResults, g.consumeDiseaseResults);
    TS_SET_LIST(componentCallbacks, g.componentCallbacks);
    TS_SET_LIST(massConsumerOutputs, g.massConsumerOutputs);
    TS_SET_LIST(massEmitterOutputs, g.massEmitterOutputs);
    TS_SET_LIST(elementChunkOutputs, g.elementChunkOutputs);
    TS_SET_LIST(elementChunkEvents, g.elementChunkEvents);
    TS_SET_LIST(buildingsOverheated, g.buildingsOverheated);
    TS_SET_LIST(buildingsCooled, g.buildingsCooled);
    TS_SET_LIST(buildingsAtHighTemp, g.buildingsAtHighTemp);
    TS_SET_LIST(flaggedTransitions, g.flaggedTransitions);
    TS_SET_LIST(diseaseEmitterOutputs, g.diseaseEmitterOutputs);
    TS_SET_LIST(reservedComponentOutputs, g.reservedComponentOutputs);
#undef TS_SET_LIST
    const int32_t cellCount = static_cast<int32_t>(g.cellCount());
    for (int32_t cell : g.liquidChangedCells) TS_CHECK_AS(cell >= 0 && cell < cellCount, "0 <= cell && cell < numGameCells");
    out.accumulatorCopy = CellPointer(g.accumulatorCopy);
    out.flowVectors = CellPointer(g.flowVectors);
    out.liquidColours = CellPointer(g.liquidColours);
    out.lightLevels = CellPointer(g.lightLevels);
    return &out;
}

}  // namespace ts
