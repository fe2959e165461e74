// Component messages of a frame: for each component in turn its adds, its
// modifications and its removes, each kind in arrival order. Host values are
// checked before they index anything or reach a record.
#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <optional>

#include "common/numeric.h"
#include "common/report.h"
#include "simlib/components/buildingheatexchange.h"
#include "simlib/components/diseaseemitter.h"
#include "simlib/components/elementchunk.h"
#include "simlib/components/massconsumer.h"
#include "simlib/components/massemitter.h"
#include "simlib/components/reservedcomponent.h"
#include "simlib/messagechecks.h"
#include "simlib/simframemanager.h"

namespace ts {

namespace {

// The floor that messages give matter arriving at 0 K.
constexpr float kColdestMatter = 1.0f;

bool Finite(std::initializer_list<float> values, const char* message) {
    for (float v : values) {
        if (!std::isfinite(v)) {
            TS_WARN("%s skipped: a value is not finite", message);
            return false;
        }
    }
    return true;
}

// Thresholds and limits: an infinite one means "never" or "no limit".
bool Numbers(std::initializer_list<float> values, const char* message) {
    for (float v : values) {
        if (std::isnan(v)) {
            TS_WARN("%s skipped: a value is not a number", message);
            return false;
        }
    }
    return true;
}

template <class T, class F>
void ForEach(PendingFrame& frame, QueueSlot slot, F&& apply) {
    MessageQueue& queue = frame.queue(slot);
    for (size_t i = 0; i < queue.count(); ++i) apply(queue.Get<T>(i));
    queue.Clear();
}

// The host learns the handle of an add (none when the add was refused) and
// the end of a remove.
void Callback(World& world, uint32_t callbackId, uint32_t h) {
    if (callbackId != SIM_NO_CALLBACK) world.outputCollector.componentCallbacks.push_back(ComponentCallbackEntry{callbackId, h});
}

std::optional<BuildingRecord> CheckedBuilding(const World& world, const BuildingHeatExchangeBody& b,
                                              const char* message) {
    if (!ValidElement(world, b.elementIdx, message) ||
        !Finite({b.mass, b.temperature, b.conductivityScale, b.heatGeneration}, message) ||
        !Numbers({b.overheatTemperature}, message))
        return std::nullopt;
    return BuildingHeatExchange::BuildRecord(world, b);
}

void ApplyBuildingMessages(World& world, PendingFrame& frame) {
    auto& buildings = ComponentOf<BuildingHeatExchange>(world.components);
    ForEach<AddBuildingHeatExchangePayload>(frame, kAddBuildingHeatExchange, [&](const auto& m) {
        const std::optional<BuildingRecord> record = CheckedBuilding(world, m.body, "AddBuildingHeatExchange");
        Callback(world, m.callbackId, record ? buildings.Add(*record) : SIM_NO_HANDLE);
    });
    ForEach<ModifyBuildingHeatExchangePayload>(frame, kModifyBuildingHeatExchange, [&](const auto& m) {
        if (!buildings.IsLive(m.handle)) return;
        if (const auto record = CheckedBuilding(world, m.body, "ModifyBuildingHeatExchange"))
            buildings.Replace(world, m.handle, *record);
    });
    ForEach<ModifyBuildingEnergyPayload>(frame, kModifyBuildingEnergy, [&](const auto& m) {
        // Bounds that are not valid make the building ignore the message, silently.
        if (!buildings.IsLive(m.handle) || !Numbers({m.kilojoules}, "ModifyBuildingEnergy")) return;
        buildings.ModifyEnergy(m.handle, m.kilojoules, m.minTemperature, m.maxTemperature);
    });
    ForEach<RemoveComponentPayload>(frame, kRemoveBuildingHeatExchange, [&](const auto& m) {
        buildings.RemoveBuilding(m.handle);
        Callback(world, m.callbackId, SIM_NO_HANDLE);
    });
}

void ApplyChunkMessages(World& world, PendingFrame& frame) {
    auto& chunks = ComponentOf<ElementChunk>(world.components);
    ForEach<AddElementChunkPayload>(frame, kAddElementChunk, [&](const auto& m) {
        const char* message = "AddElementChunk";
        uint32_t h = SIM_NO_HANDLE;
        if (ValidGameCell(world, m.gameCell, message) && ValidElement(world, m.elementIdx, message) &&
            Finite({m.mass, m.temperature, m.scaleNumerator, m.scaleDenominator, m.floorExchangeScale,
                    m.scaleNumerator / m.scaleDenominator},
                   message))
            h = chunks.Add(ElementChunk::BuildRecord(world, m));
        Callback(world, m.callbackId, h);
    });
    ForEach<MoveElementChunkPayload>(frame, kMoveElementChunk, [&](const auto& m) {
        ElementChunkRecord* chunk = chunks.Find(m.handle);
        if (chunk == nullptr || !ValidGameCell(world, m.gameCell, "MoveElementChunk")) return;
        chunk->cell = world.GameToSim(m.gameCell);
    });
    ForEach<SetElementChunkDataPayload>(frame, kSetElementChunkData, [&](const auto& m) {
        ElementChunkRecord* chunk = chunks.Find(m.handle);
        if (chunk == nullptr || !Finite({m.temperature, m.heatCapacity}, "SetElementChunkData")) return;
        // A chunk that takes part in exchanges needs a temperature (silent check).
        if (!(m.temperature > 0.0f || m.heatCapacity == 0.0f)) return;
        chunk->temperature = m.temperature;
        chunk->heatCapacity = m.heatCapacity;
    });
    ForEach<ModifyElementChunkEnergyPayload>(frame, kModifyElementChunkEnergy, [&](const auto& m) {
        ElementChunkRecord* chunk = chunks.Find(m.handle);
        if (chunk == nullptr || !Finite({m.kilojoules}, "ModifyElementChunkEnergy")) return;
        if (chunk->heatCapacity > 0.0f)
            chunk->temperature = std::max(chunk->temperature + m.kilojoules / chunk->heatCapacity, 0.0f);
    });
    ForEach<ModifyElementChunkDataPayload>(frame, kModifyElementChunkData, [&](const auto& m) {
        ElementChunkRecord* chunk = chunks.Find(m.handle);
        if (chunk == nullptr ||
            !Finite({m.storageTemperature, m.storageHeatCapacity, m.storageConductivity}, "ModifyElementChunkData"))
            return;
        chunk->storageTemperature = m.storageTemperature;
        chunk->storageHeatCapacity = m.storageHeatCapacity;
        chunk->storageConductivity = m.storageConductivity;
    });
    ForEach<RemoveComponentPayload>(frame, kRemoveElementChunk, [&](const auto& m) {
        chunks.Remove(m.handle);
        Callback(world, m.callbackId, SIM_NO_HANDLE);
    });
}

void ApplyConsumerMessages(World& world, PendingFrame& frame) {
    auto& consumers = ComponentOf<MassConsumer>(world.components);
    ForEach<AddMassConsumerPayload>(frame, kAddMassConsumer, [&](const auto& m) {
        const char* message = "AddMassConsumer";
        uint32_t h = SIM_NO_HANDLE;
        if (ValidGameCell(world, m.gameCell, message) &&
            (m.mode != MassConsumer::kFixedElement || ValidElement(world, m.elementIdx, message)))
            h = consumers.Add(MassConsumer::BuildRecord(world, m));
        Callback(world, m.callbackId, h);
    });
    ForEach<ModifyMassConsumerPayload>(frame, kModifyMassConsumer, [&](const auto& m) {
        const char* message = "ModifyMassConsumer";
        if (!consumers.IsLive(m.handle) || !ValidGameCell(world, m.gameCell, message) || !Numbers({m.rate}, message))
            return;
        // A negative rate would put mass into cells out of nothing: the intake stops.
        float rate = m.rate;
        if (rate < 0.0f) {
            TS_WARN("ModifyMassConsumer: negative rate %f clamped to 0", double(rate));
            rate = 0.0f;
        }
        consumers.Modify(world, m.handle, m.gameCell, rate);
    });
    ForEach<RemoveComponentPayload>(frame, kRemoveMassConsumer, [&](const auto& m) {
        consumers.Remove(m.handle);
        Callback(world, m.callbackId, SIM_NO_HANDLE);
    });
}

void ApplyEmitterMessages(World& world, PendingFrame& frame) {
    auto& emitters = ComponentOf<MassEmitter>(world.components);
    ForEach<AddMassEmitterPayload>(frame, kAddMassEmitter, [&](const auto& m) {
        Callback(world, m.callbackId, emitters.Add(MassEmitter::BuildRecord(m)));
    });
    ForEach<ModifyMassEmitterPayload>(frame, kModifyMassEmitter, [&](const auto& m) {
        const char* message = "ModifyMassEmitter";
        if (!emitters.IsLive(m.handle) || !ValidGameCell(world, m.gameCell, message) ||
            !ValidElement(world, m.elementIdx, message) || !ValidDisease(world, m.emitDiseaseIdx, message) ||
            !Finite({m.emitMass}, message) || !Numbers({m.interval, m.emitTemperature, m.maxPressure}, message))
            return;
        // Emitted matter must keep a cell's temperature within (0, 10000]; a
        // negative temperature stands for the element's default, and one
        // below the smallest normal float is 0 K (the simulation thread
        // flushes it to zero).
        ModifyMassEmitterPayload modify = m;
        if (m.emitMass > 0.0f && m.emitTemperature >= 0.0f &&
            (BelowSmallestNormal(m.emitTemperature) || m.emitTemperature > SIM_MAX_TEMPERATURE)) {
            modify.emitTemperature = m.emitTemperature > SIM_MAX_TEMPERATURE ? SIM_MAX_TEMPERATURE : kColdestMatter;
            TS_WARN("ModifyMassEmitter: emission temperature %f clamped to %f", double(m.emitTemperature),
                    double(modify.emitTemperature));
        }
        modify.emitMass = CappedMass(m.emitMass, message);
        emitters.Modify(world, modify);
    });
    ForEach<RemoveComponentPayload>(frame, kRemoveMassEmitter, [&](const auto& m) {
        emitters.Remove(m.handle);
        Callback(world, m.callbackId, SIM_NO_HANDLE);
    });
}

void ApplyDiseaseEmitterMessages(World& world, PendingFrame& frame) {
    auto& emitters = ComponentOf<DiseaseEmitter>(world.components);
    ForEach<AddDiseaseEmitterPayload>(frame, kAddDiseaseEmitter, [&](const auto& m) {
        Callback(world, m.callbackId, emitters.Add(DiseaseEmitter::BuildRecord()));
    });
    ForEach<ModifyDiseaseEmitterPayload>(frame, kModifyDiseaseEmitter, [&](const auto& m) {
        const char* message = "ModifyDiseaseEmitter";
        if (!emitters.IsLive(m.handle) || !ValidGameCell(world, m.gameCell, message) ||
            !ValidDisease(world, m.diseaseIdx, message))
            return;
        emitters.Modify(world, m);
    });
    ForEach<RemoveComponentPayload>(frame, kRemoveDiseaseEmitter, [&](const auto& m) {
        emitters.Remove(m.handle);
        Callback(world, m.callbackId, SIM_NO_HANDLE);
    });
}

void ApplyReservedMessages(World& world, PendingFrame& frame) {
    auto& reserved = ComponentOf<ReservedComponent>(world.components);
    ForEach<AddReservedComponentPayload>(frame, kAddReservedComponent, [&](const auto& m) {
        Callback(world, m.callbackId, reserved.Add(ReservedRecord{0}));
    });
    frame.queue(kModifyReservedComponent).Clear();  // a modification changes nothing
    ForEach<RemoveComponentPayload>(frame, kRemoveReservedComponent, [&](const auto& m) {
        reserved.Remove(m.handle);
        Callback(world, m.callbackId, SIM_NO_HANDLE);
    });
}

}  // namespace

void ApplyComponentMessages(World& world, PendingFrame& frame) {
    ApplyBuildingMessages(world, frame);
    ApplyChunkMessages(world, frame);
    ApplyConsumerMessages(world, frame);
    ApplyEmitterMessages(world, frame);
    ApplyDiseaseEmitterMessages(world, frame);
    ApplyReservedMessages(world, frame);
}

}  // namespace ts
