#include "simlib/components/registry.h"

#include "simlib/components/buildingheatexchange.h"
#include "simlib/components/diseaseemitter.h"
#include "simlib/components/elementchunk.h"
#include "simlib/components/massconsumer.h"
#include "simlib/components/massemitter.h"
#include "simlib/components/reservedcomponent.h"

namespace ts {

ComponentRegistry CreateComponentRegistry() {
    ComponentRegistry registry;
    registry[size_t(MassConsumer::kKind)] = std::make_unique<MassConsumer>();
    registry[size_t(MassEmitter::kKind)] = std::make_unique<MassEmitter>();
    registry[size_t(ElementChunk::kKind)] = std::make_unique<ElementChunk>();
    registry[size_t(BuildingHeatExchange::kKind)] = std::make_unique<BuildingHeatExchange>();
    registry[size_t(DiseaseEmitter::kKind)] = std::make_unique<DiseaseEmitter>();
    registry[size_t(ReservedComponent::kKind)] = std::make_unique<ReservedComponent>();
    return registry;
}

}  // namespace ts
