// Loads libtesselsim.so at run time and resolves its exports, as a host does.
#pragma once

#include <cstdint>
#include <string>

#include "tesselsim/tesselsim.h"

namespace tshost {

class Library {
public:
    // Opens the library at `path` (RTLD_NOW | RTLD_LOCAL). Throws std::runtime_error on failure.
    explicit Library(const std::string& path);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    decltype(&::SIM_Initialize) SIM_Initialize = nullptr;
    decltype(&::SIM_Shutdown) SIM_Shutdown = nullptr;
    decltype(&::SIM_HandleMessage) SIM_HandleMessage = nullptr;
    decltype(&::SIM_BeginSave) SIM_BeginSave = nullptr;
    decltype(&::SIM_EndSave) SIM_EndSave = nullptr;
    decltype(&::SIM_DebugCrash) SIM_DebugCrash = nullptr;
    decltype(&::SYSINFO_Acquire) SYSINFO_Acquire = nullptr;
    decltype(&::SYSINFO_Release) SYSINFO_Release = nullptr;
    decltype(&::ConduitTemperatureManager_Initialize) ConduitTemperatureManager_Initialize = nullptr;
    decltype(&::ConduitTemperatureManager_Shutdown) ConduitTemperatureManager_Shutdown = nullptr;
    decltype(&::ConduitTemperatureManager_Add) ConduitTemperatureManager_Add = nullptr;
    decltype(&::ConduitTemperatureManager_Set) ConduitTemperatureManager_Set = nullptr;
    decltype(&::ConduitTemperatureManager_Remove) ConduitTemperatureManager_Remove = nullptr;
    decltype(&::ConduitTemperatureManager_Clear) ConduitTemperatureManager_Clear = nullptr;
    decltype(&::ConduitTemperatureManager_Update) ConduitTemperatureManager_Update = nullptr;

    // Sends a message whose payload is one struct.
    template <class T>
    uint64_t Send(uint32_t id, const T& payload) {
        return SIM_HandleMessage(id, static_cast<int32_t>(sizeof(T)), &payload);
    }
    uint64_t SendBytes(uint32_t id, const std::string& bytes) {
        return SIM_HandleMessage(id, static_cast<int32_t>(bytes.size()), bytes.data());
    }
    // Sends a message without payload (SettleWorld, NoOp).
    uint64_t SendEmpty(uint32_t id) { return SIM_HandleMessage(id, 0, nullptr); }

    // ExchangeFrame with the host's input grid; null when no frame exists.
    const FrameResults* ExchangeFrame(const std::string& hostCellInput) {
        return reinterpret_cast<const FrameResults*>(
            static_cast<uintptr_t>(SendBytes(SIM_MSG_EXCHANGE_FRAME, hostCellInput)));
    }

    // Copies the library's save of the current world and releases its buffer
    // (SIM_BeginSave, then SIM_EndSave); empty when there is no world.
    std::string SaveWorld();

    // Raw symbol lookup (null when absent).
    void* Symbol(const char* name) const;

private:
    void* handle_ = nullptr;
};

}  // namespace tshost
