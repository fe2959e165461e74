#include "simlib/messagequeues.h"

#include "tesselsim/tesselsim.h"

namespace ts {

namespace {

#define TS_QUEUED(slot, ID, Payload) {ID, slot, sizeof(Payload), #slot}
constexpr QueuedMessageInfo kQueued[kUsedQueueCount] = {
    TS_QUEUED(kSetCellInsulation, SIM_MSG_SET_CELL_INSULATION, SetCellInsulationPayload),
    TS_QUEUED(kSetStrengthModifier, SIM_MSG_SET_STRENGTH_MODIFIER, SetStrengthModifierPayload),
    TS_QUEUED(kModifyCellEnergy, SIM_MSG_MODIFY_CELL_ENERGY, ModifyCellEnergyPayload),
    TS_QUEUED(kSetCellFlags, SIM_MSG_SET_CELL_FLAGS, SetCellFlagsPayload),
    TS_QUEUED(kConsumeMass, SIM_MSG_CONSUME_MASS, ConsumeMassPayload),
    TS_QUEUED(kAddMass, SIM_MSG_ADD_MASS, AddMassPayload),
    TS_QUEUED(kConsumeDisease, SIM_MSG_CONSUME_DISEASE, ConsumeDiseasePayload),
    TS_QUEUED(kModifyCellDisease, SIM_MSG_MODIFY_CELL_DISEASE, ModifyCellDiseasePayload),
    TS_QUEUED(kDigCell, SIM_MSG_DIG_CELL, DigCellPayload),
    TS_QUEUED(kModifyCell, SIM_MSG_MODIFY_CELL, ModifyCellPayload),
    TS_QUEUED(kSetCellByteGrid, SIM_MSG_SET_CELL_BYTE_GRID, SetCellByteGridPayload),
    TS_QUEUED(kAddBuildingHeatExchange, SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE, AddBuildingHeatExchangePayload),
    TS_QUEUED(kModifyBuildingHeatExchange, SIM_MSG_MODIFY_BUILDING_HEAT_EXCHANGE,
              ModifyBuildingHeatExchangePayload),
    TS_QUEUED(kModifyBuildingEnergy, SIM_MSG_MODIFY_BUILDING_ENERGY, ModifyBuildingEnergyPayload),
    TS_QUEUED(kRemoveBuildingHeatExchange, SIM_MSG_REMOVE_BUILDING_HEAT_EXCHANGE, RemoveComponentPayload),
    TS_QUEUED(kAddElementChunk, SIM_MSG_ADD_ELEMENT_CHUNK, AddElementChunkPayload),
    TS_QUEUED(kMoveElementChunk, SIM_MSG_MOVE_ELEMENT_CHUNK, MoveElementChunkPayload),
    TS_QUEUED(kSetElementChunkData, SIM_MSG_SET_ELEMENT_CHUNK_DATA, SetElementChunkDataPayload),
    TS_QUEUED(kModifyElementChunkEnergy, SIM_MSG_MODIFY_ELEMENT_CHUNK_ENERGY, ModifyElementChunkEnergyPayload),
    TS_QUEUED(kModifyElementChunkData, SIM_MSG_MODIFY_ELEMENT_CHUNK_DATA, ModifyElementChunkDataPayload),
    TS_QUEUED(kRemoveElementChunk, SIM_MSG_REMOVE_ELEMENT_CHUNK, RemoveComponentPayload),
    TS_QUEUED(kAddMassConsumer, SIM_MSG_ADD_MASS_CONSUMER, AddMassConsumerPayload),
    TS_QUEUED(kModifyMassConsumer, SIM_MSG_MODIFY_MASS_CONSUMER, ModifyMassConsumerPayload),
    TS_QUEUED(kRemoveMassConsumer, SIM_MSG_REMOVE_MASS_CONSUMER, RemoveComponentPayload),
    TS_QUEUED(kAddMassEmitter, SIM_MSG_ADD_MASS_EMITTER, AddMassEmitterPayload),
    TS_QUEUED(kModifyMassEmitter, SIM_MSG_MODIFY_MASS_EMITTER, ModifyMassEmitterPayload),
    TS_QUEUED(kRemoveMassEmitter, SIM_MSG_REMOVE_MASS_EMITTER, RemoveComponentPayload),
    TS_QUEUED(kAddDiseaseEmitter, SIM_MSG_ADD_DISEASE_EMITTER, AddDiseaseEmitterPayload),
    TS_QUEUED(kModifyDiseaseEmitter, SIM_MSG_MODIFY_DISEASE_EMITTER, ModifyDiseaseEmitterPayload),
    TS_QUEUED(kRemoveDiseaseEmitter, SIM_MSG_REMOVE_DISEASE_EMITTER, RemoveComponentPayload),
    TS_QUEUED(kAddReservedComponent, SIM_MSG_ADD_RESERVED_COMPONENT, AddReservedComponentPayload),
    TS_QUEUED(kModifyReservedComponent, SIM_MSG_MODIFY_RESERVED_COMPONENT, ModifyReservedComponentPayload),
    TS_QUEUED(kRemoveReservedComponent, SIM_MSG_REMOVE_RESERVED_COMPONENT, RemoveComponentPayload),
};
#undef TS_QUEUED

}  // namespace

const QueuedMessageInfo* FindQueuedMessage(uint32_t id) {
    for (const QueuedMessageInfo& info : kQueued)
        if (info.id == id) return &info;
    return nullptr;
}

const QueuedMessageInfo& QueuedMessageOf(QueueSlot slot) { return kQueued[slot]; }

}  // namespace ts
