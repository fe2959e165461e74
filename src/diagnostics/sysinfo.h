// The machine description behind SYSINFO_Acquire: one line of JSON with the
// members "OS", "CPU", "RAM0".., "GPU0".., "SOUND0".. in that order, read from
// the kernel's own files (os-release, uname, /proc/cpuinfo, the memory devices
// of the firmware tables or /proc/meminfo, DRM devices, ALSA sound cards) and
// the processor identification instruction.
#pragma once

#include <cstdint>
#include <string>

namespace ts {

struct MachineSources {
    // Prefix of every file read ("" for the live system; tests use a fake tree).
    std::string root;
    // uname(2).
    std::string sysname, release, version, machine;
    // Processor identification, leaf 1.
    uint32_t cpuidEcx = 0;
    uint32_t cpuidEdx = 0;
};

MachineSources LiveMachineSources();

// "SSE,SSE2,SSE3,SSSE3,SSE41,SSE42,AVX," for the flags present, in that order.
std::string CpuFeaturesString(uint32_t ecx, uint32_t edx);

// The JSON text. Every string is escaped; bytes that are not UTF-8 become U+FFFD.
std::string DescribeMachine(const MachineSources& sources);

}  // namespace ts
