#include "simlib/gamedata.h"

#include "hostapi/report.h"

namespace ts {

GameData::GameData(uint32_t w, uint32_t h) : gameWidth(w), gameHeight(h) {
    const size_t n = cellCount();
    cells.Assign(n);
    cellFlowCopy.assign(n, CellFlow{});
    accumulatorCopy.assign(n, 0.0f);
    hostCellInput.assign(n, 0);
    flowVectors.assign(2 * n, 0.0f);
    liquidColours.assign(n, 0);
    lightLevels.assign(n, 0);
}

void GameData::CopyCellsFrom(const World& world) {
    for (uint32_t r = 0; r < gameHeight; ++r)
        cells.CopyRange(world.updatedCells, size_t(r + 1) * size_t(world.width) + 1, size_t(r) * gameWidth,
                        gameWidth);
}

namespace {

template <class T, class Entry>
void SetList(int32_t& count, const Entry*& pointer, const std::vector<T>& list) {
    count = static_cast<int32_t>(list.size());
    pointer = list.empty() ? nullptr : reinterpret_cast<const Entry*>(list.data());
}

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
    SetList(out.solidChangesCount, out.solidChanges, g.solidChanges);
    SetList(out.liquidChangedCellsCount, out.liquidChangedCells, g.liquidChangedCells);
    SetList(out.solidChangedCellsCount, out.solidChangedCells, g.solidChangedCells);
    SetList(out.changedCellsCount, out.changedCells, g.changedCells);
    SetList(out.cellCallbacksCount, out.cellCallbacks, g.cellCallbacks);
    SetList(out.releasedContentsCount, out.releasedContents, g.releasedContents);
    SetList(out.dugMatterCount, out.dugMatter, g.dugMatter);
    SetList(out.emittedMatterCount, out.emittedMatter, g.emittedMatter);
    SetList(out.sublimationEventsCount, out.sublimationEvents, g.sublimationEvents);
    SetList(out.fallingSolidsCount, out.fallingSolids, g.fallingSolids);
    SetList(out.pressureDamageCount, out.pressureDamage, g.pressureDamage);
    SetList(out.buildingOutputsCount, out.buildingOutputs, g.buildingOutputs);
    SetList(out.consumeMassResultsCount, out.consumeMassResults, g.consumeMassResults);
    SetList(out.addMassResultsCount, out.addMassResults, g.addMassResults);
    SetList(out.consumeDiseaseResultsCount, out.consumeDiseaseResults, g.consumeDiseaseResults);
    SetList(out.componentCallbacksCount, out.componentCallbacks, g.componentCallbacks);
    SetList(out.massConsumerOutputsCount, out.massConsumerOutputs, g.massConsumerOutputs);
    SetList(out.massEmitterOutputsCount, out.massEmitterOutputs, g.massEmitterOutputs);
    SetList(out.elementChunkOutputsCount, out.elementChunkOutputs, g.elementChunkOutputs);
    SetList(out.elementChunkEventsCount, out.elementChunkEvents, g.elementChunkEvents);
    SetList(out.buildingsOverheatedCount, out.buildingsOverheated, g.buildingsOverheated);
    SetList(out.buildingsCooledCount, out.buildingsCooled, g.buildingsCooled);
    SetList(out.buildingsAtHighTempCount, out.buildingsAtHighTemp, g.buildingsAtHighTemp);
    SetList(out.flaggedTransitionsCount, out.flaggedTransitions, g.flaggedTransitions);
    SetList(out.diseaseEmitterOutputsCount, out.diseaseEmitterOutputs, g.diseaseEmitterOutputs);
    SetList(out.reservedComponentOutputsCount, out.reservedComponentOutputs, g.reservedComponentOutputs);
    const int32_t cellCount = static_cast<int32_t>(g.cellCount());
    for (int32_t cell : g.liquidChangedCells) TS_CHECK_AS(cell >= 0 && cell < cellCount, "0 <= cell && cell < numGameCells");
    out.accumulatorCopy = CellPointer(g.accumulatorCopy);
    out.flowVectors = CellPointer(g.flowVectors);
    out.liquidColours = CellPointer(g.liquidColours);
    out.lightLevels = CellPointer(g.lightLevels);
    return &out;
}

}  // namespace ts
