// The machine description read from a made-up machine: a directory laid out
// like the kernel's files, with two memory modules and an empty slot, two
// graphics devices, two sound cards, and strings a careless writer would
// break the JSON with.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "common/testio.h"
#include "diagnostics/sysinfo.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

// One SMBIOS memory device record (type 17) with the given size words.
std::string MemoryDevice(uint16_t size, uint32_t extendedSize) {
    std::string raw(0x28, '\0');
    raw[0] = 17;
    raw[1] = 0x28;
    raw[0x0C] = static_cast<char>(size & 0xFF);
    raw[0x0D] = static_cast<char>(size >> 8);
    for (int i = 0; i < 4; ++i) raw[0x1C + i] = static_cast<char>(extendedSize >> (8 * i));
    return raw + "DIMM\0\0";
}

std::string CpuBlock(int processor, int physical, int core, const char* mhz) {
    return "processor\t: " + std::to_string(processor) +
           "\nvendor_id\t: GenuineTest\nmodel name\t: Test \x01\"CPU\" \\ \xff" "Edition\nphysical id\t: " +
           std::to_string(physical) + "\ncore id\t\t: " + std::to_string(core) + "\ncpu MHz\t\t: " + mhz +
           "\nflags\t\t: fpu sse sse2\n\n";
}

void LayOutMachine(const fs::path& root) {
    auto write = [&root](const std::string& path, const std::string& content) { tstest::WriteFile(root / path, content); };
    write("etc/os-release", "NAME=\"Plain\"\n# comment\nPRETTY_NAME=\"Test \\\"Quoted\\\" OS \\\\ 1\"\nID=test\n");
    std::string cpuinfo;
    int processor = 0;
    for (int physical = 0; physical < 2; ++physical)
        for (int core = 0; core < 2; ++core)
            for (int thread = 0; thread < 2; ++thread, ++processor)
                cpuinfo += CpuBlock(processor, physical, core, processor == 3 ? "3600.6" : "1200.000");
    write("proc/cpuinfo", cpuinfo);
    write("proc/meminfo", "MemTotal:       16384000 kB\nMemFree:        1 kB\n");
    // Firmware memory records: 8 GiB, an empty slot, 32 GiB through the extended size, 1 MiB in kilobytes.
    write("sys/firmware/dmi/entries/17-0/raw", MemoryDevice(8192, 0));
    write("sys/firmware/dmi/entries/17-1/raw", MemoryDevice(0, 0));
    write("sys/firmware/dmi/entries/17-2/raw", MemoryDevice(0x7FFF, 32768));
    write("sys/firmware/dmi/entries/17-10/raw", MemoryDevice(0x8000 | 1024, 0));
    write("sys/firmware/dmi/entries/16-0/raw", std::string("\x10\x17", 2) + std::string(0x15, '\0'));
    // Graphics: a PCI card with a connected output, and a firmware framebuffer.
    write("usr/share/misc/pci.ids",
            "# names\n1002  Advanced Micro Devices, Inc. [AMD/ATI]\n\t73bf  Navi 21\n\t\t1002 0e3a  Subsystem\n"
            "8086  Intel Corporation\n\t1234  Other\nC 03  Display controller\n");
    write("sys/class/drm/card0/device/vendor", "0x1002\n");
    write("sys/class/drm/card0/device/device", "0x73bf\n");
    write("sys/class/drm/card0/device/uevent", "DRIVER=amdgpu\nPCI_CLASS=30000\n");
    write("sys/class/drm/card0/device/mem_info_vram_total", "17163091968\n");
    write("sys/class/drm/card0-HDMI-A-1/status", "disconnected\n");
    write("sys/class/drm/card0-HDMI-A-1/modes", "640x480\n");
    write("sys/class/drm/card0-DP-1/status", "connected\n");
    write("sys/class/drm/card0-DP-1/modes", "2560x1440\n1920x1080\n");
    write("sys/class/drm/card1/device/uevent", "DRIVER=simpledrm\n");
    write("sys/class/drm/renderD128/dev", "226:128\n");
    write("sys/class/drm/version", "drm 1.1.0 20060810\n");
    write("sys/module/simpledrm/version", "1.0.0\n");
    // Sound cards.
    write("proc/asound/cards",
            " 0 [PCH            ]: HDA-Intel - HDA Intel PCH\n"
            "                      HDA Intel PCH at 0xf7f10000 irq 31\n"
            " 1 [Device         ]: USB-Audio - USB \"Audio\" Device\n"
            "                      Generic USB Audio at usb-0000:00:14.0-2, full speed\n");
    write("proc/asound/card0/pcm0p/sub0/prealloc", "64\n");
    write("sys/class/sound/card0/device/vendor", "0x8086\n");
}

constexpr uint32_t kEdxSse = 1u << 25, kEdxSse2 = 1u << 26;
constexpr uint32_t kEcxSse3 = 1u << 0, kEcxSsse3 = 1u << 9, kEcxSse41 = 1u << 19, kEcxSse42 = 1u << 20,
                   kEcxAvx = 1u << 28;

// The whole text, members in order, compared with what the made-up machine
// must give: strings escaped (a control character as \u0001, a byte that is
// not UTF-8 replaced), the empty memory slot left out, four cores of two
// packages, the fastest clock seen when no rated maximum is there; and with
// the firmware, devices and os-release removed, what the kernel always has.
TEST(SystemInfo, DescribesTheMachineInOrderFromTheKernelsFiles) {
    const struct {
        bool bare;
        uint32_t ecx, edx;
        const char* expected;
    } cases[] = {
        {false, kEcxSse3 | kEcxSsse3 | kEcxSse41 | kEcxSse42, kEdxSse | kEdxSse2, R"({
            "OS":{"name":"Test \"Quoted\" OS \\ 1","version":"6.1.0-test","architecture":"x86_64","platformSpecific":"#1 SMP \"quoted\" build"},
            "CPU":{"name":"Test \u0001\"CPU\" \\ \uFFFDEdition","manufacturer":"GenuineTest","features":"SSE,SSE2,SSE3,SSSE3,SSE41,SSE42,","numCores":4,"clockSpeed":3601},
            "RAM0":{"megsOfRam":8192},"RAM1":{"megsOfRam":32768},"RAM2":{"megsOfRam":1},
            "GPU0":{"name":"Advanced Micro Devices, Inc. [AMD/ATI] Navi 21","megsOfRam":16368,"driverVersion":"6.1.0-test","driverDate":"","videoModeDescription":"2560x1440","refreshRate":0},
            "GPU1":{"name":"simpledrm","megsOfRam":0,"driverVersion":"1.0.0","driverDate":"","videoModeDescription":"","refreshRate":0},
            "SOUND0":{"name":"HDA Intel PCH","productName":"HDA Intel PCH at 0xf7f10000 irq 31","description":"HDA-Intel","manufacturer":"Intel Corporation","status":"OK","dmaBufferSize":64},
            "SOUND1":{"name":"USB \"Audio\" Device","productName":"Generic USB Audio at usb-0000:00:14.0-2, full speed","description":"USB-Audio","manufacturer":"","status":"OK","dmaBufferSize":0}})"},
        {true, kEcxAvx | kEcxSse42, kEdxSse, R"({
            "OS":{"name":"Linux","version":"6.1.0-test","architecture":"x86_64","platformSpecific":"#1 SMP \"quoted\" build"},
            "CPU":{"name":"Test \u0001\"CPU\" \\ \uFFFDEdition","manufacturer":"GenuineTest","features":"SSE,SSE42,AVX,","numCores":4,"clockSpeed":4200},
            "RAM0":{"megsOfRam":16000}})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bare);
        tstest::TempDir dir;
        LayOutMachine(dir.path);
        if (c.bare) {
            for (const char* gone : {"sys/firmware", "sys/class", "proc/asound", "etc"}) fs::remove_all(dir.path / gone);
            tstest::WriteFile(dir.path / "sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", "4200000\n");
        }
        const ts::MachineSources sources{dir.path.string(), "Linux", "6.1.0-test", "#1 SMP \"quoted\" build", "x86_64",
                                         c.ecx, c.edx};
        EXPECT_EQ(ts::DescribeMachine(sources), Json::parse(c.expected).dump());
    }
}

}  // namespace
