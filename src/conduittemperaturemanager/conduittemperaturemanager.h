// The temperatures of the matter inside the host's pipes: each entry is one
// packet of contents attached to its pipe building, with which it exchanges
// heat when the host updates the manager. The building's share goes back to
// the simulation as a queued ModifyBuildingEnergy.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "simlib/components/componentmanager.h"
#include "simlib/elementtable.h"
#include "tesselsim/tesselsim.h"

namespace ts {

class SimFrameManager;

struct ConduitEntry {
    float temperature;
    float thermalConductivity;
    float heatCapacity;
    uint32_t buildingHandle;  // SIM_NO_HANDLE: detached
    float buildingHeatCapacity;
    float buildingConductivity;
    uint8_t useLowerConductivity;  // exchange with the smaller conductivity instead of the mean
    float freezeTemp;
    float boilTemp;
};

class ConduitTemperatureManager : public ComponentManager<ConduitEntry> {
public:
    ConduitTemperatureManager() {
        pendingRemovals[0].reserve(64);
        pendingRemovals[1].reserve(64);
    }

    // The host's operations; the caller holds the process's conduit lock.
    uint32_t AddEntry(const ElementTable& elements, float temperature, float mass, uint32_t elementId,
                      uint32_t buildingHandle, float buildingHeatCapacity, float buildingConductivity,
                      uint8_t useLowerConductivity);
    void SetEntry(const ElementTable& elements, uint32_t h, float temperature, float mass, uint32_t elementId);
    void RemoveEntry(uint32_t h);
    void ClearEntries();
    // `buildings` (may be null) is indexed by the slot of each entry's
    // building; `queue` (may be null) receives the buildings' energy changes.
    const UpdateResult* Update(float dt, const BuildingOutputEntry* buildings, SimFrameManager* queue);

    // Sim thread, once per cycle: a removal takes effect at the second pass
    // after it, so a released slot is not handed out again while results that
    // name it may still be in the host's hands.
    void ApplyPendingRemovals();

    std::vector<uint32_t> boiledEntries;  // slot indices
    std::vector<uint32_t> frozenEntries;
    std::vector<float> temperatures;  // per slot, from the last update
    UpdateResult result{};
    int32_t currentRemovalList = 0;
    std::vector<uint32_t> pendingRemovals[2];

private:
    // The contents' part of an entry from the element; false (after a report)
    // when the values cannot make an entry.
    bool Contents(const ElementTable& elements, float temperature, float mass, uint32_t elementId, bool fromSet,
                  ConduitEntry& entry);
};

// The process's manager and the lock that every export and the removal pass
// hold from start to end. The lock outlives the manager, so Shutdown cannot
// pull the manager from under the sim thread.
struct ConduitManagerSlot {
    std::mutex lock;
    std::unique_ptr<ConduitTemperatureManager> manager;
};

// Sim thread, at the top of every cycle (inside cycleLock).
void RunConduitRemovalPass(ConduitManagerSlot& slot);

}  // namespace ts
