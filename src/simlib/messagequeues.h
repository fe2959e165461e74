// The queued messages: which queue of a frame each id goes to, and the fixed
// payload size copied into it. The list below is the only place that says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace ts {

// Every queued message once, in queue order: its queue slot, its id (from
// the public header) and the payload whose size each queued copy takes.
#define TS_QUEUED_MESSAGES(X) \
    X(kSetCellInsulation, SIM_MSG_SET_CELL_INSULATION, SetCellInsulationPayload) \
    X(kSetStrengthModifier, SIM_MSG_SET_STRENGTH_MODIFIER, SetStrengthModifierPayload) \
    X(kModifyCellEnergy, SIM_MSG_MODIFY_CELL_ENERGY, ModifyCellEnergyPayload) \
    X(kSetCellFlags, SIM_MSG_SET_CELL_FLAGS, SetCellFlagsPayload) \
    X(kConsumeMass, SIM_MSG_CONSUME_MASS, ConsumeMassPayload) \
    X(kAddMass, SIM_MSG_ADD_MASS, AddMassPayload) \
    X(kConsumeDisease, SIM_MSG_CONSUME_DISEASE, ConsumeDiseasePayload) \
    X(kModifyCellDisease, SIM_MSG_MODIFY_CELL_DISEASE, ModifyCellDiseasePayload) \
    X(kDigCell, SIM_MSG_DIG_CELL, DigCellPayload) \
    X(kModifyCell, SIM_MSG_MODIFY_CELL, ModifyCellPayload) \
    X(kSetCellByteGrid, SIM_MSG_SET_CELL_BYTE_GRID, SetCellByteGridPayload) \
    X(kAddBuildingHeatExchange, SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE, AddBuildingHeatExchangePayload) \
    X(kModifyBuildingHeatExchange, SIM_MSG_MODIFY_BUILDING_HEAT_EXCHANGE, ModifyBuildingHeatExchangePayload) \
    X(kModifyBuildingEnergy, SIM_MSG_MODIFY_BUILDING_ENERGY, ModifyBuildingEnergyPayload) \
    X(kRemoveBuildingHeatExchange, SIM_MSG_REMOVE_BUILDING_HEAT_EXCHANGE, RemoveComponentPayload) \
    X(kAddElementChunk, SIM_MSG_ADD_ELEMENT_CHUNK, AddElementChunkPayload) \
    X(kMoveElementChunk, SIM_MSG_MOVE_ELEMENT_CHUNK, MoveElementChunkPayload) \
    X(kSetElementChunkData, SIM_MSG_SET_ELEMENT_CHUNK_DATA, SetElementChunkDataPayload) \
    X(kModifyElementChunkEnergy, SIM_MSG_MODIFY_ELEMENT_CHUNK_ENERGY, ModifyElementChunkEnergyPayload) \
    X(kModifyElementChunkData, SIM_MSG_MODIFY_ELEMENT_CHUNK_DATA, ModifyElementChunkDataPayload) \
    X(kRemoveElementChunk, SIM_MSG_REMOVE_ELEMENT_CHUNK, RemoveComponentPayload) \
    X(kAddMassConsumer, SIM_MSG_ADD_MASS_CONSUMER, AddMassConsumerPayload) \
    X(kModifyMassConsumer, SIM_MSG_MODIFY_MASS_CONSUMER, ModifyMassConsumerPayload) \
    X(kRemoveMassConsumer, SIM_MSG_REMOVE_MASS_CONSUMER, RemoveComponentPayload) \
    X(kAddMassEmitter, SIM_MSG_ADD_MASS_EMITTER, AddMassEmitterPayload) \
    X(kModifyMassEmitter, SIM_MSG_MODIFY_MASS_EMITTER, ModifyMassEmitterPayload) \
    X(kRemoveMassEmitter, SIM_MSG_REMOVE_MASS_EMITTER, RemoveComponentPayload) \
    X(kAddDiseaseEmitter, SIM_MSG_ADD_DISEASE_EMITTER, AddDiseaseEmitterPayload) \
    X(kModifyDiseaseEmitter, SIM_MSG_MODIFY_DISEASE_EMITTER, ModifyDiseaseEmitterPayload) \
    X(kRemoveDiseaseEmitter, SIM_MSG_REMOVE_DISEASE_EMITTER, RemoveComponentPayload) \
    X(kAddReservedComponent, SIM_MSG_ADD_RESERVED_COMPONENT, AddReservedComponentPayload) \
    X(kModifyReservedComponent, SIM_MSG_MODIFY_RESERVED_COMPONENT, ModifyReservedComponentPayload) \
    X(kRemoveReservedComponent, SIM_MSG_REMOVE_RESERVED_COMPONENT, RemoveComponentPayload)

enum QueueSlot : uint8_t {
#define TS_QUEUE_SLOT(slot, id, Payload) slot,
    TS_QUEUED_MESSAGES(TS_QUEUE_SLOT)
#undef TS_QUEUE_SLOT
    kUsedQueueCount,
};
// Two further queues are kept free.
constexpr size_t kQueueCount = 35;

struct QueuedMessageInfo {
    uint32_t id;
    QueueSlot slot;
    uint32_t size;
    const char* name;
};

// The catalogue entry of a queued id, or null when the id is not queued.
const QueuedMessageInfo* FindQueuedMessage(uint32_t id);
const QueuedMessageInfo& QueuedMessageOf(QueueSlot slot);

// Fixed-size payload copies in arrival order; storage is kept when cleared.
class MessageQueue {
public:
    // Frames are recycled in an order set by thread timing, so any frame may
    // meet a queue's usual traffic first: each starts with room for a few
    // messages, and steady frames then never allocate.
    static constexpr size_t kInitialBytes = 256;
    MessageQueue() { bytes_.reserve(kInitialBytes); }

    void Append(const void* payload, size_t size) {
        const size_t at = bytes_.size();
        bytes_.resize(at + size);
        std::memcpy(bytes_.data() + at, payload, size);
        ++count_;
    }
    size_t count() const { return count_; }
    bool empty() const { return count_ == 0; }
    void Clear() {
        bytes_.clear();
        count_ = 0;
    }
    // Entry i as a payload struct (copied out: the storage is unaligned).
    template <class T>
    T Get(size_t i) const {
        T value;
        std::memcpy(&value, bytes_.data() + i * sizeof(T), sizeof(T));
        return value;
    }

private:
    std::vector<uint8_t> bytes_;
    size_t count_ = 0;
};

}  // namespace ts
