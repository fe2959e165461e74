// The queued messages: which queue of a frame each id goes to, and the fixed
// payload size copied into it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace ts {

enum QueueSlot : uint8_t {
    kSetCellInsulation,
    kSetStrengthModifier,
    kModifyCellEnergy,
    kSetCellFlags,
    kConsumeMass,
    kAddMass,
    kConsumeDisease,
    kModifyCellDisease,
    kDigCell,
    kModifyCell,
    kSetCellByteGrid,
    kAddBuildingHeatExchange,
    kModifyBuildingHeatExchange,
    kModifyBuildingEnergy,
    kRemoveBuildingHeatExchange,
    kAddElementChunk,
    kMoveElementChunk,
    kSetElementChunkData,
    kModifyElementChunkEnergy,
    kModifyElementChunkData,
    kRemoveElementChunk,
    kAddMassConsumer,
    kModifyMassConsumer,
    kRemoveMassConsumer,
    kAddMassEmitter,
    kModifyMassEmitter,
    kRemoveMassEmitter,
    kAddDiseaseEmitter,
    kModifyDiseaseEmitter,
    kRemoveDiseaseEmitter,
    kAddReservedComponent,
    kModifyReservedComponent,
    kRemoveReservedComponent,
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
