// A host under an address-space limit (RLIMIT_AS), for the out-of-memory
// tests. Each mode sets the limit a little above what the process maps at
// that point, then asks the library for more:
//
//   limited_host load    LoadSaveGame of a large save while a small world runs
//   limited_host create  CreateWorld of a large world over a small created one
//   limited_host init    SIM_Initialize when no thread can be created
//   limited_host start   LoadSaveGame when the sim thread cannot be started
//
// It prints one "name=value" line per observation and exits 0 when it got to
// the end; an exception escaping the library ends it with terminate instead.
#include <sys/resource.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "common/hosting.h"
#include "common/reports.h"
#include "hostkit/savegame.h"

namespace {

using tstest::Reported;

// The address space mapped now, in bytes.
uint64_t MappedBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmSize:", 0) == 0) return std::stoull(line.substr(7)) * 1024;
    return 0;
}

void LimitAddressSpace(uint64_t headroom) {
    const rlimit limit{MappedBytes() + headroom, RLIM_INFINITY};
    if (setrlimit(RLIMIT_AS, &limit) != 0) std::perror("setrlimit");
}

void Print(const char* name, long long value) {
    std::printf("%s=%lld\n", name, value);
    std::fflush(stdout);
}

struct Host {
    tshost::Library lib{TS_LIBRARY_PATH};
    tshost::SampleTables tables = tshost::LoadSampleTables();
    int32_t w = 0, h = 0;

    void Initialize() {
        lib.SIM_Initialize(&tstest::ReportRecorder::Callback);
        tstest::LoadTables(lib, tables);
    }
    std::string CreatePayload(int32_t width, int32_t height) const {
        const uint8_t oxygen = tshost::ElementIndex(tables.elements, "Oxygen");
        return tshost::CreateWorldPayload(tshost::WorldLayout(width, height, tshost::Matter(oxygen, 300.0f, 1.0f)));
    }
    uint64_t Create(int32_t width, int32_t height) {
        w = width;
        h = height;
        return lib.SendBytes(SIM_MSG_CREATE_WORLD, CreatePayload(width, height));
    }
    // Closes a frame and exchanges twice: true when results of the right size came back.
    bool Runs() {
        return tstest::NextFrame(lib, w, h, 0.2f) != nullptr &&
               lib.ExchangeFrame(tshost::HostCellInput(w, h, 0)) != nullptr;
    }
};

// A valid save of `width` x `height` game cells of oxygen.
std::string LargeSave(const Host& host, int32_t width, int32_t height) {
    tshost::SaveGame save = tshost::SaveGame::Empty(width + 2, height + 2);
    const uint32_t oxygen = host.tables.elements[tshost::ElementIndex(host.tables.elements, "Oxygen")].record.id;
    for (SavedCell& cell : save.cells) cell = SavedCell{oxygen, 300.0f, 1.0f};
    return tshost::WriteSaveGame(save);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    Host host;
    if (mode == "load" || mode == "create") {
        const bool load = mode == "load";
        host.Initialize();
        host.Create(8, 6);
        // CreateWorld is for a world that does not run yet.
        if (load) Print("small", host.lib.SendBytes(SIM_MSG_LOAD_SAVE_GAME, host.lib.SaveWorld()) != 0);
        // About 700 MB for the library, 256 MB to get them from.
        const std::string big = load ? LargeSave(host, 2000, 2000) : host.CreatePayload(2000, 2000);
        LimitAddressSpace(256ull << 20);
        Print("result",
              static_cast<long long>(host.lib.SendBytes(load ? SIM_MSG_LOAD_SAVE_GAME : SIM_MSG_CREATE_WORLD, big)));
        Print("reported", Reported("out of memory"));
        Print("old-world-saves", host.lib.SaveWorld().size() == tshost::SaveLength(13, 10 * 8));
        if (!load) Print("small", host.lib.SendBytes(SIM_MSG_LOAD_SAVE_GAME, host.lib.SaveWorld()) != 0);
        Print("old-world-runs", host.Runs());
    } else if (mode == "init") {
        // No room for a thread's stack: the pool's worker cannot be created.
        LimitAddressSpace(2ull << 20);
        host.lib.SIM_Initialize(&tstest::ReportRecorder::Callback);
        Print("reported", Reported("could not be created"));
        const std::string elements = tshost::ElementTablePayload(host.tables.elements);
        Print("table", static_cast<long long>(host.lib.SendBytes(SIM_MSG_LOAD_ELEMENT_TABLE, elements)));
        host.lib.SIM_Shutdown();
    } else if (mode == "start") {
        host.Initialize();
        Print("created", static_cast<long long>(host.Create(8, 6)));
        const std::string save = host.lib.SaveWorld();
        LimitAddressSpace(2ull << 20);
        Print("result", static_cast<long long>(host.lib.SendBytes(SIM_MSG_LOAD_SAVE_GAME, save)));
        Print("reported", Reported("could not be started"));
        Print("exchange", static_cast<long long>(host.lib.ExchangeFrame(tshost::HostCellInput(8, 6, 0)) != nullptr));
        // The old world is checked with room to spare: only the load ran short.
        const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
        setrlimit(RLIMIT_AS, &unlimited);
        Print("old-world-saves", host.lib.SaveWorld() == save);
    } else {
        std::fprintf(stderr, "usage: limited_host load|create|init|start\n");
        return 2;
    }
    std::printf("end\n");
    return 0;
}
