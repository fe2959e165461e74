// The seventeen result lists that a frame gathers; published to the host at
// the end of the cycle by exchanging storage, so they keep their capacity.
#pragma once

#include <cstdint>
#include <type_traits>
#include <vector>

#include "tesselsim/tesselsim.h"

namespace ts {

struct OutputCollector {
    std::vector<ChangedCellEntry> changedCells;
    std::vector<MatterEntry> releasedContents;
    std::vector<MatterEntry> emittedMatter;
    std::vector<FallingSolidEntry> fallingSolids;
    std::vector<uint32_t> elementChunkEvents;
    std::vector<uint32_t> buildingsAtHighTemp;
    std::vector<uint32_t> buildingsOverheated;
    std::vector<uint32_t> buildingsCooled;
    std::vector<int32_t> flaggedTransitions;
    std::vector<uint32_t> cellCallbacks;
    std::vector<PressureDamageEntry> pressureDamage;
    std::vector<ConsumeMassResult> consumeMassResults;
    std::vector<AddMassResult> addMassResults;
    std::vector<ConsumeDiseaseResult> consumeDiseaseResults;
    std::vector<SublimationEvent> sublimationEvents;
    std::vector<ComponentCallbackEntry> componentCallbacks;
    std::vector<MatterEntry> dugMatter;

    // Calls f(list) for every list, in list order.
    template <class F>
    void ForEachList(F&& f) {
        f(changedCells);
        f(releasedContents);
        f(emittedMatter);
        f(fallingSolids);
        f(elementChunkEvents);
        f(buildingsAtHighTemp);
        f(buildingsOverheated);
        f(buildingsCooled);
        f(flaggedTransitions);
        f(cellCallbacks);
        f(pressureDamage);
        f(consumeMassResults);
        f(addMassResults);
        f(consumeDiseaseResults);
        f(sublimationEvents);
        f(componentCallbacks);
        f(dugMatter);
    }

    template <class F>
    void ForEachList(F&& f) const {
        const_cast<OutputCollector*>(this)->ForEachList(
            [&f](auto& list) { f(static_cast<const std::decay_t<decltype(list)>&>(list)); });
    }

    // Empties every list; storage stays.
    void Clear() {
        ForEachList([](auto& list) { list.clear(); });
    }

    // Appends every list of `other` to the same list here, then empties `other`.
    void AppendAndClear(OutputCollector& other);
};

}  // namespace ts
