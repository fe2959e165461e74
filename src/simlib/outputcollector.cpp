#include "simlib/outputcollector.h"

#include <tuple>

namespace ts {

namespace {
template <class T>
void Move(std::vector<T>& to, std::vector<T>& from) {
    to.insert(to.end(), from.begin(), from.end());
    from.clear();
}
}  // namespace

void OutputCollector::AppendAndClear(OutputCollector& o) {
    Move(changedCells, o.changedCells);
    Move(releasedContents, o.releasedContents);
    Move(emittedMatter, o.emittedMatter);
    Move(fallingSolids, o.fallingSolids);
    Move(elementChunkEvents, o.elementChunkEvents);
    Move(buildingsAtHighTemp, o.buildingsAtHighTemp);
    Move(buildingsOverheated, o.buildingsOverheated);
    Move(buildingsCooled, o.buildingsCooled);
    Move(flaggedTransitions, o.flaggedTransitions);
    Move(cellCallbacks, o.cellCallbacks);
    Move(pressureDamage, o.pressureDamage);
    Move(consumeMassResults, o.consumeMassResults);
    Move(addMassResults, o.addMassResults);
    Move(consumeDiseaseResults, o.consumeDiseaseResults);
    Move(sublimationEvents, o.sublimationEvents);
    Move(componentCallbacks, o.componentCallbacks);
    Move(dugMatter, o.dugMatter);
}

}  // namespace ts
