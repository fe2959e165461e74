#include "hostkit/library.h"

#include <dlfcn.h>

#include <stdexcept>

namespace tshost {

Library::Library(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen failed: ") + dlerror());
    auto resolve = [this](auto& fn, const char* name) { fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(Symbol(name)); };
    resolve(SIM_Initialize, "SIM_Initialize");
    resolve(SIM_Shutdown, "SIM_Shutdown");
    resolve(SIM_HandleMessage, "SIM_HandleMessage");
    resolve(SIM_BeginSave, "SIM_BeginSave");
    resolve(SIM_EndSave, "SIM_EndSave");
    resolve(SIM_DebugCrash, "SIM_DebugCrash");
    resolve(SYSINFO_Acquire, "SYSINFO_Acquire");
    resolve(SYSINFO_Release, "SYSINFO_Release");
    resolve(ConduitTemperatureManager_Initialize, "ConduitTemperatureManager_Initialize");
    resolve(ConduitTemperatureManager_Shutdown, "ConduitTemperatureManager_Shutdown");
    resolve(ConduitTemperatureManager_Add, "ConduitTemperatureManager_Add");
    resolve(ConduitTemperatureManager_Set, "ConduitTemperatureManager_Set");
    resolve(ConduitTemperatureManager_Remove, "ConduitTemperatureManager_Remove");
    resolve(ConduitTemperatureManager_Clear, "ConduitTemperatureManager_Clear");
    resolve(ConduitTemperatureManager_Update, "ConduitTemperatureManager_Update");
    if (SIM_Initialize == nullptr || SIM_Shutdown == nullptr || SIM_HandleMessage == nullptr)
        throw std::runtime_error("library lacks the SIM_ exports");
}

Library::~Library() {
    if (handle_ != nullptr) dlclose(handle_);
}

std::string Library::SaveWorld() {
    if (SIM_BeginSave == nullptr || SIM_EndSave == nullptr) return {};
    uint32_t length = 0;
    const uint8_t* data = SIM_BeginSave(&length);
    std::string bytes;
    if (data != nullptr) bytes.assign(reinterpret_cast<const char*>(data), length);
    SIM_EndSave();
    return bytes;
}

void* Library::Symbol(const char* name) const { return dlsym(handle_, name); }

}  // namespace tshost
