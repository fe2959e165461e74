#include "hostkit/payloads.h"

#include <array>

namespace tshost {

namespace {

using K = MessageKind;

constexpr std::array<MessageInfo, 45> kCatalogue{{
    {SIM_MSG_EXCHANGE_FRAME, "ExchangeFrame", K::Immediate, -1},
    {SIM_MSG_LOAD_ELEMENT_TABLE, "LoadElementTable", K::Immediate, -1},
    {SIM_MSG_STORE_RECORD_LIST, "StoreRecordList", K::Immediate, sizeof(StoreRecordListPayload)},
    {SIM_MSG_LOAD_DISEASE_TABLE, "LoadDiseaseTable", K::Immediate, -1},
    {SIM_MSG_LOAD_CELL_BYTE_GRID, "LoadCellByteGrid", K::Immediate, -1},
    {SIM_MSG_CREATE_WORLD, "CreateWorld", K::Immediate, -1},
    {SIM_MSG_SETTLE_WORLD, "SettleWorld", K::Immediate, 0},
    {SIM_MSG_LOAD_SAVE_GAME, "LoadSaveGame", K::Immediate, -1},
    {SIM_MSG_NO_OP, "NoOp", K::Immediate, 0},
    {SIM_MSG_SET_WORLD_FLAGS, "SetWorldFlags", K::Immediate, sizeof(SetWorldFlagsPayload)},

    {SIM_MSG_END_FRAME, "EndFrame", K::FrameDirect, sizeof(EndFramePayload)},
    {SIM_MSG_SET_FRAME_PARAMETERS, "SetFrameParameters", K::FrameDirect, sizeof(SetFrameParametersPayload)},

    {SIM_MSG_SET_CELL_INSULATION, "SetCellInsulation", K::Queued, sizeof(SetCellInsulationPayload)},
    {SIM_MSG_SET_STRENGTH_MODIFIER, "SetStrengthModifier", K::Queued, sizeof(SetStrengthModifierPayload)},
    {SIM_MSG_MODIFY_CELL_ENERGY, "ModifyCellEnergy", K::Queued, sizeof(ModifyCellEnergyPayload)},
    {SIM_MSG_SET_CELL_FLAGS, "SetCellFlags", K::Queued, sizeof(SetCellFlagsPayload)},
    {SIM_MSG_CONSUME_MASS, "ConsumeMass", K::Queued, sizeof(ConsumeMassPayload)},
    {SIM_MSG_ADD_MASS, "AddMass", K::Queued, sizeof(AddMassPayload)},
    {SIM_MSG_CONSUME_DISEASE, "ConsumeDisease", K::Queued, sizeof(ConsumeDiseasePayload)},
    {SIM_MSG_MODIFY_CELL_DISEASE, "ModifyCellDisease", K::Queued, sizeof(ModifyCellDiseasePayload)},
    {SIM_MSG_DIG_CELL, "DigCell", K::Queued, sizeof(DigCellPayload)},
    {SIM_MSG_MODIFY_CELL, "ModifyCell", K::Queued, sizeof(ModifyCellPayload)},
    {SIM_MSG_SET_CELL_BYTE_GRID, "SetCellByteGrid", K::Queued, sizeof(SetCellByteGridPayload)},

    {SIM_MSG_ADD_MASS_CONSUMER, "AddMassConsumer", K::Queued, sizeof(AddMassConsumerPayload)},
    {SIM_MSG_MODIFY_MASS_CONSUMER, "ModifyMassConsumer", K::Queued, sizeof(ModifyMassConsumerPayload)},
    {SIM_MSG_REMOVE_MASS_CONSUMER, "RemoveMassConsumer", K::Queued, sizeof(RemoveMassConsumerPayload)},
    {SIM_MSG_ADD_MASS_EMITTER, "AddMassEmitter", K::Queued, sizeof(AddMassEmitterPayload)},
    {SIM_MSG_MODIFY_MASS_EMITTER, "ModifyMassEmitter", K::Queued, sizeof(ModifyMassEmitterPayload)},
    {SIM_MSG_REMOVE_MASS_EMITTER, "RemoveMassEmitter", K::Queued, sizeof(RemoveMassEmitterPayload)},
    {SIM_MSG_ADD_ELEMENT_CHUNK, "AddElementChunk", K::Queued, sizeof(AddElementChunkPayload)},
    {SIM_MSG_REMOVE_ELEMENT_CHUNK, "RemoveElementChunk", K::Queued, sizeof(RemoveElementChunkPayload)},
    {SIM_MSG_MOVE_ELEMENT_CHUNK, "MoveElementChunk", K::Queued, sizeof(MoveElementChunkPayload)},
    {SIM_MSG_SET_ELEMENT_CHUNK_DATA, "SetElementChunkData", K::Queued, sizeof(SetElementChunkDataPayload)},
    {SIM_MSG_MODIFY_ELEMENT_CHUNK_ENERGY, "ModifyElementChunkEnergy", K::Queued,
     sizeof(ModifyElementChunkEnergyPayload)},
    {SIM_MSG_MODIFY_ELEMENT_CHUNK_DATA, "ModifyElementChunkData", K::Queued, sizeof(ModifyElementChunkDataPayload)},
    {SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE, "AddBuildingHeatExchange", K::Queued,
     sizeof(AddBuildingHeatExchangePayload)},
    {SIM_MSG_MODIFY_BUILDING_HEAT_EXCHANGE, "ModifyBuildingHeatExchange", K::Queued,
     sizeof(ModifyBuildingHeatExchangePayload)},
    {SIM_MSG_MODIFY_BUILDING_ENERGY, "ModifyBuildingEnergy", K::Queued, sizeof(ModifyBuildingEnergyPayload)},
    {SIM_MSG_REMOVE_BUILDING_HEAT_EXCHANGE, "RemoveBuildingHeatExchange", K::Queued,
     sizeof(RemoveBuildingHeatExchangePayload)},
    {SIM_MSG_ADD_DISEASE_EMITTER, "AddDiseaseEmitter", K::Queued, sizeof(AddDiseaseEmitterPayload)},
    {SIM_MSG_MODIFY_DISEASE_EMITTER, "ModifyDiseaseEmitter", K::Queued, sizeof(ModifyDiseaseEmitterPayload)},
    {SIM_MSG_REMOVE_DISEASE_EMITTER, "RemoveDiseaseEmitter", K::Queued, sizeof(RemoveDiseaseEmitterPayload)},
    {SIM_MSG_ADD_RESERVED_COMPONENT, "AddReservedComponent", K::Queued, sizeof(AddReservedComponentPayload)},
    {SIM_MSG_MODIFY_RESERVED_COMPONENT, "ModifyReservedComponent", K::Queued,
     sizeof(ModifyReservedComponentPayload)},
    {SIM_MSG_REMOVE_RESERVED_COMPONENT, "RemoveReservedComponent", K::Queued,
     sizeof(RemoveReservedComponentPayload)},
}};

}  // namespace

std::span<const MessageInfo> MessageCatalogue() { return kCatalogue; }

const MessageInfo* FindMessage(uint32_t id) {
    for (const MessageInfo& m : kCatalogue)
        if (m.id == id) return &m;
    return nullptr;
}

}  // namespace tshost
