// The address space of this process as the kernel describes it in
// /proc/self/maps, and the modules (mapped ELF files with code) in it, each
// with its GNU build id. Everything lives in static storage and is read
// through system calls, so it can be loaded inside a signal handler. One
// reader at a time: the crash report, or a test.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ts::procmaps {

struct Mapping {
    uint64_t start;
    uint64_t end;
    uint64_t offset;
    uint64_t inode;
    const char* path;  // into the maps text, not NUL-terminated
    uint32_t pathLength;
    bool readable;
    bool executable;
};

constexpr std::size_t kMaxBuildId = 64;
constexpr std::size_t kMaxModules = 2048;

struct Module {
    uint64_t base;
    uint64_t end;
    const char* path;  // into the maps text, not NUL-terminated
    uint32_t pathLength;
    uint8_t buildId[kMaxBuildId];
    uint32_t buildIdSize;
};

// Reads /proc/self/maps again and parses its mappings.
void LoadMappings();
const char* MapsText();
std::size_t MapsLength();
const Mapping* MappingAt(uint64_t address);

// Groups the loaded mappings into modules, the main program first (debuggers
// take the first module as the executable).
void CollectModules();
const Module* Modules();
std::size_t ModuleCount();

// Copies memory of this process without touching it directly: an unmapped
// address fails the call instead of raising a signal.
bool SafeRead(uint64_t address, void* out, std::size_t size);

}  // namespace ts::procmaps
