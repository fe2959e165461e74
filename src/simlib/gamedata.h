// One frame's results as the host reads them. The host exchange owns two.
#pragma once

#include <cstdint>
#include <vector>

#include "simlib/cellarrays.h"
#include "simlib/world.h"
#include "tesselsim/tesselsim.h"

namespace ts {

struct GameData {
    GameData(uint32_t gameWidth, uint32_t gameHeight);

    uint32_t gameWidth;
    uint32_t gameHeight;
    uint32_t frameCount = 0;

    std::vector<ChangedCellEntry> changedCells;
    std::vector<uint32_t> cellCallbacks;
    std::vector<MatterEntry> releasedContents;
    std::vector<MatterEntry> emittedMatter;
    std::vector<MatterEntry> dugMatter;
    std::vector<FallingSolidEntry> fallingSolids;
    std::vector<PressureDamageEntry> pressureDamage;
    std::vector<BuildingOutputEntry> buildingOutputs;
    std::vector<ConsumeMassResult> consumeMassResults;
    std::vector<AddMassResult> addMassResults;
    std::vector<ConsumeDiseaseResult> consumeDiseaseResults;
    std::vector<SublimationEvent> sublimationEvents;
    std::vector<SolidChangeEntry> solidChanges;
    std::vector<int32_t> liquidChangedCells;
    std::vector<int32_t> solidChangedCells;
    std::vector<MassConsumerOutput> massConsumerOutputs;
    std::vector<MassEmitterOutput> massEmitterOutputs;
    std::vector<ElementChunkOutput> elementChunkOutputs;
    std::vector<DiseaseEmitterOutput> diseaseEmitterOutputs;
    std::vector<ReservedComponentOutput> reservedComponentOutputs;
    std::vector<uint32_t> elementChunkEvents;
    std::vector<uint32_t> buildingsAtHighTemp;
    std::vector<uint32_t> buildingsOverheated;
    std::vector<uint32_t> buildingsCooled;
    std::vector<ComponentCallbackEntry> componentCallbacks;
    std::vector<int32_t> flaggedTransitions;

    CellArrays cells;  // game size, indexed by game cell
    std::vector<float> accumulatorCopy;
    std::vector<uint8_t> hostCellInput;
    std::vector<float> flowVectors;  // two per game cell
    std::vector<uint32_t> liquidColours;
    std::vector<uint8_t> lightLevels;

    size_t cellCount() const { return size_t(gameWidth) * size_t(gameHeight); }
    // Copies the interior of the world's live cells into `cells`.
    void CopyCellsFrom(const World& world);
};

// Fills `out` from the buffer and returns it.
FrameResults* BuildFrameResults(const GameData& data, FrameResults& out);

}  // namespace ts
