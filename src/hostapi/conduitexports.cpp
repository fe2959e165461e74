// The conduit manager's C exports. Each holds the process's conduit lock from
// start to end; without a manager they do nothing (Add answers no handle and
// Update answers null).
#include "conduittemperaturemanager/conduittemperaturemanager.h"
#include "hostapi/catchall.h"
#include "hostapi/runtime.h"
#include "tesselsim/tesselsim.h"

using namespace ts;

namespace {

struct Locked {
    std::lock_guard<std::mutex> guard;
    ConduitTemperatureManager* manager;
    Locked() : guard(GetRuntime().conduits.lock), manager(GetRuntime().conduits.manager.get()) {}
};

}  // namespace

TS_API void ConduitTemperatureManager_Initialize(void) {
    CatchAll("ConduitTemperatureManager_Initialize", [] {
        ConduitManagerSlot& slot = GetRuntime().conduits;
        std::lock_guard<std::mutex> guard(slot.lock);
        slot.manager = std::make_unique<ConduitTemperatureManager>();
    });
}

TS_API void ConduitTemperatureManager_Shutdown(void) {
    CatchAll("ConduitTemperatureManager_Shutdown", [] {
        ConduitManagerSlot& slot = GetRuntime().conduits;
        std::lock_guard<std::mutex> guard(slot.lock);
        slot.manager.reset();
    });
}

TS_API uint32_t ConduitTemperatureManager_Add(float temperature, float mass, uint32_t elementId,
                                              uint32_t buildingHandle, float buildingHeatCapacity,
                                              float buildingConductivity, uint8_t useLowerConductivity) {
    return CatchAll("ConduitTemperatureManager_Add", uint32_t(SIM_NO_HANDLE), [&]() -> uint32_t {
        Locked locked;
        if (locked.manager == nullptr) return SIM_NO_HANDLE;
        return locked.manager->AddEntry(GetRuntime().elementTable, temperature, mass, elementId, buildingHandle,
                                        buildingHeatCapacity, buildingConductivity, useLowerConductivity);
    });
}

TS_API void ConduitTemperatureManager_Set(uint32_t handle, float temperature, float mass, uint32_t elementId) {
    CatchAll("ConduitTemperatureManager_Set", [&] {
        Locked locked;
        if (locked.manager != nullptr)
            locked.manager->SetEntry(GetRuntime().elementTable, handle, temperature, mass, elementId);
    });
}

TS_API void ConduitTemperatureManager_Remove(uint32_t handle) {
    CatchAll("ConduitTemperatureManager_Remove", [&] {
        Locked locked;
        if (locked.manager != nullptr) locked.manager->RemoveEntry(handle);
    });
}

TS_API void ConduitTemperatureManager_Clear(void) {
    CatchAll("ConduitTemperatureManager_Clear", [] {
        Locked locked;
        if (locked.manager != nullptr) locked.manager->ClearEntries();
    });
}

TS_API const UpdateResult* ConduitTemperatureManager_Update(float dt,
                                                            const BuildingOutputEntry* buildingTemperatures) {
    return CatchAll("ConduitTemperatureManager_Update", static_cast<const UpdateResult*>(nullptr),
                    [&]() -> const UpdateResult* {
                        Locked locked;
                        if (locked.manager == nullptr) return nullptr;
                        // The buildings' energy joins the frame the host is filling, as if
                        // the host had sent it.
                        Runtime& rt = GetRuntime();
                        SimFrameManager* queue = rt.simThread ? &rt.simThread->frameManager() : nullptr;
                        return locked.manager->Update(dt, buildingTemperatures, queue);
                    });
}
