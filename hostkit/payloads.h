// Typed builders for the fixed-size message payloads, and the message catalogue.
//
// Each builder takes the payload's fields in wire order and returns the packed
// struct of the public header with every unused byte zero, ready for
// `Library::Send(id, payload)`. Variable-length payloads have their own writers:
// tables (hostkit/tables.h), worlds and grids (hostkit/world.h), saves
// (hostkit/savegame.h). SettleWorld and NoOp carry no payload.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "tesselsim/tesselsim.h"

namespace tshost {

// ---- Immediate messages with a fixed part --------------------------------

inline StoreRecordListPayload StoreRecordList(int32_t count, uint64_t address) {
    StoreRecordListPayload p{};
    p.count = count;
    p.address = address;
    return p;
}

inline SetWorldFlagsPayload SetWorldFlags(uint8_t clearBits, uint8_t setBits) {
    SetWorldFlagsPayload p{};
    p.clearBits = clearBits;
    p.setBits = setBits;
    return p;
}

// ---- Frame-direct messages -----------------------------------------------

// Active region in game-cell coordinates, maxima exclusive; dt <= 0 runs no physics.
inline EndFramePayload EndFrame(float dt, int32_t minX, int32_t minY, int32_t maxX, int32_t maxY) {
    EndFramePayload p{};
    p.dt = dt;
    p.minX = minX;
    p.minY = minY;
    p.maxX = maxX;
    p.maxY = maxY;
    return p;
}

inline SetFrameParametersPayload SetFrameParameters(float buildingExchangeRate, float offGasChance,
                                                    float offGasFraction, float temperatureRelaxRate,
                                                    uint32_t forceEmission) {
    SetFrameParametersPayload p{};
    p.buildingExchangeRate = buildingExchangeRate;
    p.offGasChance = offGasChance;
    p.offGasFraction = offGasFraction;
    p.temperatureRelaxRate = temperatureRelaxRate;
    p.forceEmission = forceEmission;
    return p;
}

// ---- Queued messages on cells ----------------------------------------------

inline SetCellInsulationPayload SetCellInsulation(int32_t gameCell, float value) {
    SetCellInsulationPayload p{};
    p.gameCell = gameCell;
    p.value = value;
    return p;
}

inline SetStrengthModifierPayload SetStrengthModifier(int32_t gameCell, float value) {
    SetStrengthModifierPayload p{};
    p.gameCell = gameCell;
    p.value = value;
    return p;
}

inline ModifyCellEnergyPayload ModifyCellEnergy(int32_t gameCell, float kilojoules, float maxTemperature,
                                                int32_t id) {
    ModifyCellEnergyPayload p{};
    p.gameCell = gameCell;
    p.kilojoules = kilojoules;
    p.maxTemperature = maxTemperature;
    p.id = id;
    return p;
}

// set != 0 sets the mask bits, set == 0 clears them.
inline SetCellFlagsPayload SetCellFlags(int32_t gameCell, uint8_t mask, uint8_t set) {
    SetCellFlagsPayload p{};
    p.gameCell = gameCell;
    p.mask = mask;
    p.set = set;
    return p;
}

inline ConsumeMassPayload ConsumeMass(int32_t gameCell, uint32_t callbackId, float mass, uint8_t elementIdx,
                                      uint8_t maxDepth) {
    ConsumeMassPayload p{};
    p.gameCell = gameCell;
    p.callbackId = callbackId;
    p.mass = mass;
    p.elementIdx = elementIdx;
    p.maxDepth = maxDepth;
    return p;
}

inline AddMassPayload AddMass(int32_t gameCell, uint32_t callbackId, float mass, float temperature,
                              int32_t diseaseCount, uint8_t elementIdx, uint8_t diseaseIdx) {
    AddMassPayload p{};
    p.gameCell = gameCell;
    p.callbackId = callbackId;
    p.mass = mass;
    p.temperature = temperature;
    p.diseaseCount = diseaseCount;
    p.elementIdx = elementIdx;
    p.diseaseIdx = diseaseIdx;
    return p;
}

inline ConsumeDiseasePayload ConsumeDisease(int32_t gameCell, uint32_t callbackId, float fraction,
                                            int32_t maxCount) {
    ConsumeDiseasePayload p{};
    p.gameCell = gameCell;
    p.callbackId = callbackId;
    p.fraction = fraction;
    p.maxCount = maxCount;
    return p;
}

// diseaseIdx 255 changes the count of whatever disease the cell holds.
inline ModifyCellDiseasePayload ModifyCellDisease(int32_t gameCell, uint8_t diseaseIdx, int32_t count) {
    ModifyCellDiseasePayload p{};
    p.gameCell = gameCell;
    p.diseaseIdx = diseaseIdx;
    p.count = count;
    return p;
}

inline DigCellPayload DigCell(int32_t gameCell, uint32_t callbackId, uint8_t skipDrop) {
    DigCellPayload p{};
    p.gameCell = gameCell;
    p.callbackId = callbackId;
    p.skipDrop = skipDrop;
    return p;
}

// replaceType: SIM_REPLACE_ADD, SIM_REPLACE_REPLACE or SIM_REPLACE_AND_DISPLACE.
inline ModifyCellPayload ModifyCell(int32_t gameCell, uint32_t callbackId, float temperature, float mass,
                                    int32_t diseaseCount, uint8_t elementIdx, uint8_t replaceType,
                                    uint8_t diseaseIdx, uint8_t solidMode) {
    ModifyCellPayload p{};
    p.gameCell = gameCell;
    p.callbackId = callbackId;
    p.temperature = temperature;
    p.mass = mass;
    p.diseaseCount = diseaseCount;
    p.elementIdx = elementIdx;
    p.replaceType = replaceType;
    p.diseaseIdx = diseaseIdx;
    p.solidMode = solidMode;
    return p;
}

inline SetCellByteGridPayload SetCellByteGrid(int32_t gameCell, uint8_t value) {
    SetCellByteGridPayload p{};
    p.gameCell = gameCell;
    p.value = value;
    return p;
}

// ---- Queued messages on components -----------------------------------------

inline AddMassConsumerPayload AddMassConsumer(int32_t gameCell, uint32_t callbackId, uint8_t radius,
                                              uint8_t mode, uint8_t elementIdx) {
    AddMassConsumerPayload p{};
    p.gameCell = gameCell;
    p.callbackId = callbackId;
    p.radius = radius;
    p.mode = mode;
    p.elementIdx = elementIdx;
    return p;
}

inline ModifyMassConsumerPayload ModifyMassConsumer(uint32_t handle, int32_t gameCell, float rate) {
    ModifyMassConsumerPayload p{};
    p.handle = handle;
    p.gameCell = gameCell;
    p.rate = rate;
    return p;
}

inline RemoveComponentPayload RemoveComponent(uint32_t handle, uint32_t callbackId) {
    RemoveComponentPayload p{};
    p.handle = handle;
    p.callbackId = callbackId;
    return p;
}

inline RemoveMassConsumerPayload RemoveMassConsumer(uint32_t handle, uint32_t callbackId) {
    return RemoveComponent(handle, callbackId);
}

inline AddMassEmitterPayload AddMassEmitter(float maxPressure, uint32_t callbackId, uint32_t blockedCallback,
                                            uint32_t unblockedCallback) {
    AddMassEmitterPayload p{};
    p.maxPressure = maxPressure;
    p.callbackId = callbackId;
    p.blockedCallback = blockedCallback;
    p.unblockedCallback = unblockedCallback;
    return p;
}

inline ModifyMassEmitterPayload ModifyMassEmitter(uint32_t handle, int32_t gameCell, float interval,
                                                  float emitMass, float emitTemperature, float maxPressure,
                                                  int32_t emitDiseaseCount, uint8_t elementIdx, uint8_t radius,
                                                  uint8_t emitDiseaseIdx) {
    ModifyMassEmitterPayload p{};
    p.handle = handle;
    p.gameCell = gameCell;
    p.interval = interval;
    p.emitMass = emitMass;
    p.emitTemperature = emitTemperature;
    p.maxPressure = maxPressure;
    p.emitDiseaseCount = emitDiseaseCount;
    p.elementIdx = elementIdx;
    p.radius = radius;
    p.emitDiseaseIdx = emitDiseaseIdx;
    return p;
}

inline RemoveMassEmitterPayload RemoveMassEmitter(uint32_t handle, uint32_t callbackId) {
    return RemoveComponent(handle, callbackId);
}

inline AddElementChunkPayload AddElementChunk(int32_t gameCell, uint32_t callbackId, float mass, float temperature,
                                              float scaleNumerator, float scaleDenominator,
                                              float floorExchangeScale, uint8_t elementIdx) {
    AddElementChunkPayload p{};
    p.gameCell = gameCell;
    p.callbackId = callbackId;
    p.mass = mass;
    p.temperature = temperature;
    p.scaleNumerator = scaleNumerator;
    p.scaleDenominator = scaleDenominator;
    p.floorExchangeScale = floorExchangeScale;
    p.elementIdx = elementIdx;
    return p;
}

inline RemoveElementChunkPayload RemoveElementChunk(uint32_t handle, uint32_t callbackId) {
    return RemoveComponent(handle, callbackId);
}

inline MoveElementChunkPayload MoveElementChunk(uint32_t handle, int32_t gameCell) {
    MoveElementChunkPayload p{};
    p.handle = handle;
    p.gameCell = gameCell;
    return p;
}

inline SetElementChunkDataPayload SetElementChunkData(uint32_t handle, float temperature, float heatCapacity) {
    SetElementChunkDataPayload p{};
    p.handle = handle;
    p.temperature = temperature;
    p.heatCapacity = heatCapacity;
    return p;
}

inline ModifyElementChunkEnergyPayload ModifyElementChunkEnergy(uint32_t handle, float kilojoules) {
    ModifyElementChunkEnergyPayload p{};
    p.handle = handle;
    p.kilojoules = kilojoules;
    return p;
}

inline ModifyElementChunkDataPayload ModifyElementChunkData(uint32_t handle, float storageTemperature,
                                                            float storageHeatCapacity, float storageConductivity) {
    ModifyElementChunkDataPayload p{};
    p.handle = handle;
    p.storageTemperature = storageTemperature;
    p.storageHeatCapacity = storageHeatCapacity;
    p.storageConductivity = storageConductivity;
    return p;
}

// The part shared by the add and modify messages of a building; the rectangle
// is in host coordinates with exclusive maxima.
inline BuildingHeatExchangeBody BuildingHeatExchange(uint8_t elementIdx, float mass, float temperature,
                                                     float conductivityScale, float overheatTemperature,
                                                     float heatGeneration, int32_t minX, int32_t minY,
                                                     int32_t maxX, int32_t maxY) {
    BuildingHeatExchangeBody b{};
    b.elementIdx = elementIdx;
    b.mass = mass;
    b.temperature = temperature;
    b.conductivityScale = conductivityScale;
    b.overheatTemperature = overheatTemperature;
    b.heatGeneration = heatGeneration;
    b.minX = minX;
    b.minY = minY;
    b.maxX = maxX;
    b.maxY = maxY;
    return b;
}

inline AddBuildingHeatExchangePayload AddBuildingHeatExchange(uint32_t callbackId,
                                                              const BuildingHeatExchangeBody& body) {
    AddBuildingHeatExchangePayload p{};
    p.callbackId = callbackId;
    p.body = body;
    return p;
}

inline AddBuildingHeatExchangePayload AddBuildingHeatExchange(uint32_t callbackId, uint8_t elementIdx, float mass,
                                                              float temperature, float conductivityScale,
                                                              float overheatTemperature, float heatGeneration,
                                                              int32_t minX, int32_t minY, int32_t maxX,
                                                              int32_t maxY) {
    return AddBuildingHeatExchange(callbackId,
                                   BuildingHeatExchange(elementIdx, mass, temperature, conductivityScale,
                                                        overheatTemperature, heatGeneration, minX, minY, maxX, maxY));
}

inline ModifyBuildingHeatExchangePayload ModifyBuildingHeatExchange(uint32_t handle,
                                                                    const BuildingHeatExchangeBody& body) {
    ModifyBuildingHeatExchangePayload p{};
    p.handle = handle;
    p.body = body;
    return p;
}

inline ModifyBuildingHeatExchangePayload ModifyBuildingHeatExchange(uint32_t handle, uint8_t elementIdx,
                                                                    float mass, float temperature,
                                                                    float conductivityScale,
                                                                    float overheatTemperature, float heatGeneration,
                                                                    int32_t minX, int32_t minY, int32_t maxX,
                                                                    int32_t maxY) {
    return ModifyBuildingHeatExchange(handle,
                                      BuildingHeatExchange(elementIdx, mass, temperature, conductivityScale,
                                                           overheatTemperature, heatGeneration, minX, minY, maxX,
                                                           maxY));
}

inline ModifyBuildingEnergyPayload ModifyBuildingEnergy(uint32_t handle, float kilojoules, float minTemperature,
                                                        float maxTemperature) {
    ModifyBuildingEnergyPayload p{};
    p.handle = handle;
    p.kilojoules = kilojoules;
    p.minTemperature = minTemperature;
    p.maxTemperature = maxTemperature;
    return p;
}

inline RemoveBuildingHeatExchangePayload RemoveBuildingHeatExchange(uint32_t handle, uint32_t callbackId) {
    return RemoveComponent(handle, callbackId);
}

// The emitter starts with default values until a ModifyDiseaseEmitter.
inline AddDiseaseEmitterPayload AddDiseaseEmitter(uint32_t callbackId) {
    AddDiseaseEmitterPayload p{};
    p.callbackId = callbackId;
    return p;
}

inline ModifyDiseaseEmitterPayload ModifyDiseaseEmitter(uint32_t handle, int32_t gameCell, uint8_t diseaseIdx,
                                                        uint8_t radius, float interval, int32_t count) {
    ModifyDiseaseEmitterPayload p{};
    p.handle = handle;
    p.gameCell = gameCell;
    p.diseaseIdx = diseaseIdx;
    p.radius = radius;
    p.interval = interval;
    p.count = count;
    return p;
}

inline RemoveDiseaseEmitterPayload RemoveDiseaseEmitter(uint32_t handle, uint32_t callbackId) {
    return RemoveComponent(handle, callbackId);
}

// The reserved component reads nothing past its callback id or handle.
inline AddReservedComponentPayload AddReservedComponent(uint32_t callbackId) {
    AddReservedComponentPayload p{};
    p.callbackId = callbackId;
    return p;
}

inline ModifyReservedComponentPayload ModifyReservedComponent(uint32_t handle) {
    ModifyReservedComponentPayload p{};
    p.handle = handle;
    return p;
}

inline RemoveReservedComponentPayload RemoveReservedComponent(uint32_t handle, uint32_t callbackId) {
    return RemoveComponent(handle, callbackId);
}

// ---- Catalogue ---------------------------------------------------------------

enum class MessageKind : uint8_t { Immediate, FrameDirect, Queued };

struct MessageInfo {
    uint32_t id;
    std::string_view name;
    MessageKind kind;
    // Payload bytes the message needs: the whole payload for frame-direct and
    // queued messages, the fixed part for immediate ones; -1 when the size
    // depends on the content (tables, worlds, grids, saves).
    int32_t size;
};

// Every message id the library knows, immediate ones first in dispatch order.
std::span<const MessageInfo> MessageCatalogue();

// Null for an id the library ignores.
const MessageInfo* FindMessage(uint32_t id);

}  // namespace tshost
