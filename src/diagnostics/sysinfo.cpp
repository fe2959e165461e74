#include "diagnostics/sysinfo.h"

#include <cpuid.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/floatmode.h"
#include "tesselsim/tesselsim.h"

namespace ts {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string FirstLine(const std::string& text) { return Trim(text.substr(0, text.find('\n'))); }

uint64_t ToNumber(const std::string& text, int base = 10) {
    const std::string t = Trim(text);
    if (t.empty()) return 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(t.c_str(), &end, base);
    return end == t.c_str() ? 0 : static_cast<uint64_t>(value);
}

// Entries of a directory whose names start with `prefix` followed by a number,
// in the order of that number (card2 before card10).
std::vector<std::pair<uint64_t, fs::path>> NumberedEntries(const fs::path& dir, const std::string& prefix) {
    std::vector<std::pair<uint64_t, fs::path>> entries;
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string rest = name.substr(prefix.size());
        if (!std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
        entries.emplace_back(ToNumber(rest), it->path());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

// os-release: KEY=value lines, values optionally quoted shell-style.
std::map<std::string, std::string> ParseOsRelease(const std::string& text) {
    std::map<std::string, std::string> values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const auto equals = line.find('=');
        if (line.empty() || line[0] == '#' || equals == std::string::npos) continue;
        const std::string key = Trim(line.substr(0, equals));
        const std::string raw = Trim(line.substr(equals + 1));
        std::string value;
        if (!raw.empty() && (raw[0] == '"' || raw[0] == '\'')) {
            const char quote = raw[0];
            for (std::size_t i = 1; i < raw.size() && raw[i] != quote; ++i) {
                if (quote == '"' && raw[i] == '\\' && i + 1 < raw.size()) ++i;
                value += raw[i];
            }
        } else {
            value = raw;
        }
        values[key] = value;
    }
    return values;
}

// /proc/cpuinfo: one block of "key : value" lines per logical processor.
std::vector<std::map<std::string, std::string>> ParseCpuInfo(const std::string& text) {
    std::vector<std::map<std::string, std::string>> blocks(1);
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (Trim(line).empty()) {
            if (!blocks.back().empty()) blocks.emplace_back();
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        blocks.back()[Trim(line.substr(0, colon))] = Trim(line.substr(colon + 1));
    }
    if (blocks.back().empty()) blocks.pop_back();
    return blocks;
}

// Names of PCI vendors and devices from the system's database, when installed.
class PciNames {
public:
    explicit PciNames(const std::string& root) : root_(root) {}

    std::string Vendor(uint32_t vendor) {
        Load();
        const auto it = vendors_.find(vendor);
        return it == vendors_.end() ? std::string() : it->second;
    }

    std::string Device(uint32_t vendor, uint32_t device) {
        Load();
        const auto it = devices_.find((vendor << 16) | device);
        return it == devices_.end() ? std::string() : it->second;
    }

private:
    void Load() {
        if (loaded_) return;
        loaded_ = true;
        for (const char* file : {"/usr/share/misc/pci.ids", "/usr/share/hwdata/pci.ids"}) {
            std::ifstream in(root_ + file);
            if (!in) continue;
            std::string line;
            uint32_t vendor = 0;
            bool inVendor = false;
            while (std::getline(in, line)) {
                if (line.empty() || line[0] == '#') continue;
                if (line[0] == 'C' && line.size() > 1 && line[1] == ' ') break;  // device classes follow
                const bool device = line[0] == '\t' && (line.size() < 2 || line[1] != '\t');
                const std::string body = device ? line.substr(1) : line;
                if (body.size() < 6 || body[4] != ' ') continue;
                const auto id = static_cast<uint32_t>(ToNumber(body.substr(0, 4), 16));
                const std::string name = Trim(body.substr(5));
                if (line[0] != '\t') {
                    vendor = id;
                    inVendor = true;
                    vendors_[vendor] = name;
                } else if (device && inVendor) {
                    devices_[(vendor << 16) | id] = name;
                }
            }
            return;
        }
    }

    std::string root_;
    bool loaded_ = false;
    std::map<uint32_t, std::string> vendors_;
    std::map<uint32_t, std::string> devices_;
};

std::string DriverOf(const fs::path& device) {
    std::istringstream lines(ReadText((device / "uevent").string()));
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind("DRIVER=", 0) == 0) return Trim(line.substr(7));
    std::error_code error;
    const fs::path target = fs::read_symlink(device / "driver", error);
    return error ? std::string() : target.filename().string();
}

// The kernel's DRM version query (name, date, description of the driver).
struct DrmVersionQuery {
    int versionMajor;
    int versionMinor;
    int versionPatchlevel;
    std::size_t nameLength;
    char* name;
    std::size_t dateLength;
    char* date;
    std::size_t descriptionLength;
    char* description;
};
constexpr unsigned long kDrmIoctlVersion = _IOWR('d', 0x00, DrmVersionQuery);

bool QueryDrmDriver(const std::string& node, std::string& version, std::string& date) {
    const int fd = open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    char name[64] = {}, day[64] = {}, description[256] = {};
    DrmVersionQuery query{0, 0, 0, sizeof name - 1, name, sizeof day - 1, day, sizeof description - 1, description};
    const bool ok = ioctl(fd, kDrmIoctlVersion, &query) == 0;
    close(fd);
    if (!ok) return false;
    version = std::to_string(query.versionMajor) + "." + std::to_string(query.versionMinor) + "." +
              std::to_string(query.versionPatchlevel);
    date.assign(day, std::min(query.dateLength, sizeof day - 1));
    return true;
}

Json DescribeOs(const MachineSources& s) {
    auto release = ParseOsRelease(ReadText(s.root + "/etc/os-release"));
    if (release.empty()) release = ParseOsRelease(ReadText(s.root + "/usr/lib/os-release"));
    std::string name = release["PRETTY_NAME"];
    if (name.empty()) name = release["NAME"];
    if (name.empty()) name = s.sysname;
    Json os = Json::object();
    os["name"] = name;
    os["version"] = s.release;
    os["architecture"] = s.machine;
    // No service packs here: the kernel's build string takes their place.
    os["platformSpecific"] = s.version;
    return os;
}

Json DescribeCpu(const MachineSources& s) {
    const auto blocks = ParseCpuInfo(ReadText(s.root + "/proc/cpuinfo"));
    std::string name, manufacturer;
    std::set<std::pair<std::string, std::string>> cores;
    uint64_t processors = 0;
    double fastestMhz = 0;
    for (const auto& block : blocks) {
        auto get = [&](const char* key) {
            const auto it = block.find(key);
            return it == block.end() ? std::string() : it->second;
        };
        if (block.count("processor") != 0) ++processors;
        if (name.empty()) name = get("model name");
        if (manufacturer.empty()) manufacturer = get("vendor_id");
        if (block.count("physical id") != 0 && block.count("core id") != 0)
            cores.emplace(get("physical id"), get("core id"));
        const std::string mhz = get("cpu MHz");
        if (!mhz.empty()) fastestMhz = std::max(fastestMhz, std::strtod(mhz.c_str(), nullptr));
    }
    // The rated maximum when the kernel knows it, else the fastest current clock.
    uint64_t clock = ToNumber(ReadText(s.root + "/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq")) / 1000;
    if (clock == 0 && std::isfinite(fastestMhz) && fastestMhz > 0) clock = static_cast<uint64_t>(std::lround(fastestMhz));
    Json cpu = Json::object();
    cpu["name"] = name;
    cpu["manufacturer"] = manufacturer;
    cpu["features"] = CpuFeaturesString(s.cpuidEcx, s.cpuidEdx);
    cpu["numCores"] = cores.empty() ? processors : static_cast<uint64_t>(cores.size());
    cpu["clockSpeed"] = clock;
    return cpu;
}

// Installed memory modules, in megabytes, from the firmware's memory device
// records (SMBIOS type 17) as the kernel exposes them.
std::vector<uint64_t> MemoryModules(const std::string& root) {
    std::vector<uint64_t> megabytes;
    for (const auto& [index, dir] : NumberedEntries(root + "/sys/firmware/dmi/entries", "17-")) {
        const std::string raw = ReadText((dir / "raw").string());
        if (raw.size() < 0x0E || static_cast<uint8_t>(raw[0]) != 17) continue;
        const auto length = static_cast<uint8_t>(raw[1]);
        auto word = [&](std::size_t at) {
            return static_cast<uint32_t>(static_cast<uint8_t>(raw[at]) | (static_cast<uint8_t>(raw[at + 1]) << 8));
        };
        const uint32_t size = word(0x0C);
        if (size == 0 || size == 0xFFFF) continue;  // empty slot, or size unknown
        if (size == 0x7FFF) {
            if (length < 0x20 || raw.size() < 0x20) continue;
            megabytes.push_back((word(0x1C) | (word(0x1E) << 16)) & 0x7FFFFFFFu);
        } else if ((size & 0x8000) != 0) {
            megabytes.push_back((size & 0x7FFF) / 1024);  // kilobyte granularity
        } else {
            megabytes.push_back(size);
        }
    }
    return megabytes;
}

uint64_t MemTotalMegabytes(const std::string& root) {
    std::istringstream lines(ReadText(root + "/proc/meminfo"));
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind("MemTotal:", 0) == 0) return ToNumber(line.substr(9)) / 1024;
    return 0;
}

Json DescribeGpu(const MachineSources& s, const fs::path& card, PciNames& pci) {
    const fs::path device = card / "device";
    const std::string driver = DriverOf(device);
    const std::string vendorText = FirstLine(ReadText((device / "vendor").string()));
    const std::string deviceText = FirstLine(ReadText((device / "device").string()));
    std::string name = driver;
    if (!vendorText.empty() && !deviceText.empty()) {
        const auto vendor = static_cast<uint32_t>(ToNumber(vendorText, 16));
        const auto model = static_cast<uint32_t>(ToNumber(deviceText, 16));
        const std::string vendorName = pci.Vendor(vendor);
        const std::string modelName = pci.Device(vendor, model);
        if (!vendorName.empty() && !modelName.empty()) {
            name = vendorName + " " + modelName;
        } else {
            char ids[32];
            std::snprintf(ids, sizeof ids, "[%04x:%04x]", vendor, model);
            name = (driver.empty() ? "" : driver + " ") + ids;
        }
    }
    // Driver version and date from the driver itself, through its render node.
    std::string driverVersion, driverDate;
    bool queried = false;
    for (const auto& [index, node] : NumberedEntries(device / "drm", "renderD")) {
        queried = QueryDrmDriver(s.root + "/dev/dri/" + node.filename().string(), driverVersion, driverDate);
        if (queried) break;
    }
    if (!queried) {
        driverVersion = FirstLine(ReadText(s.root + "/sys/module/" + driver + "/version"));
        if (driverVersion.empty()) driverVersion = s.release;  // built with the kernel
    }
    // The preferred mode of the first connected output.
    std::string mode;
    const std::string cardName = card.filename().string();
    std::vector<fs::path> connectors;
    std::error_code error;
    for (fs::directory_iterator it(card.parent_path(), error), end; !error && it != end; it.increment(error))
        if (it->path().filename().string().rfind(cardName + "-", 0) == 0) connectors.push_back(it->path());
    std::sort(connectors.begin(), connectors.end());
    for (const auto& connector : connectors) {
        if (FirstLine(ReadText((connector / "status").string())) != "connected") continue;
        mode = FirstLine(ReadText((connector / "modes").string()));
        if (!mode.empty()) break;
    }
    Json gpu = Json::object();
    gpu["name"] = name;
    gpu["megsOfRam"] = ToNumber(ReadText((device / "mem_info_vram_total").string())) >> 20;
    gpu["driverVersion"] = driverVersion;
    gpu["driverDate"] = driverDate;
    gpu["videoModeDescription"] = mode;
    gpu["refreshRate"] = 0;  // not published by the kernel without taking over the display
    return gpu;
}

struct SoundCard {
    uint64_t index = 0;
    std::string driver, shortName, longName;
};

// /proc/asound/cards: " 0 [PCH            ]: HDA-Intel - HDA Intel PCH" and the long name below.
std::vector<SoundCard> SoundCards(const std::string& root) {
    std::vector<SoundCard> cards;
    std::istringstream lines(ReadText(root + "/proc/asound/cards"));
    std::string line;
    while (std::getline(lines, line)) {
        const std::string head = Trim(line);
        const auto open = head.find('[');
        const auto close = head.find("]:");
        if (head.empty() || head[0] < '0' || head[0] > '9' || open == std::string::npos || close == std::string::npos ||
            close < open)
            continue;
        SoundCard card;
        card.index = ToNumber(head.substr(0, open));
        const std::string rest = Trim(head.substr(close + 2));
        const auto dash = rest.find(" - ");
        card.driver = Trim(rest.substr(0, dash));
        card.shortName = dash == std::string::npos ? std::string() : Trim(rest.substr(dash + 3));
        std::string next;
        if (std::getline(lines, next)) card.longName = Trim(next);
        cards.push_back(card);
    }
    return cards;
}

Json DescribeSound(const std::string& root, const SoundCard& card, PciNames& pci) {
    const std::string index = std::to_string(card.index);
    const std::string vendorText = FirstLine(ReadText(root + "/sys/class/sound/card" + index + "/device/vendor"));
    Json sound = Json::object();
    sound["name"] = card.shortName;
    sound["productName"] = card.longName;
    sound["description"] = card.driver;
    sound["manufacturer"] = vendorText.empty() ? std::string() : pci.Vendor(static_cast<uint32_t>(ToNumber(vendorText, 16)));
    sound["status"] = "OK";  // listed by the kernel: its driver is bound
    // Kilobytes the driver keeps for the first playback stream's DMA.
    sound["dmaBufferSize"] = ToNumber(ReadText(root + "/proc/asound/card" + index + "/pcm0p/sub0/prealloc"));
    return sound;
}

std::mutex textLock;
std::unique_ptr<std::string> machineText;

}  // namespace

std::string CpuFeaturesString(uint32_t ecx, uint32_t edx) {
    struct Flag {
        bool inEcx;
        int bit;
        const char* text;
    };
    static constexpr Flag kFlags[] = {{false, 25, "SSE,"},  {false, 26, "SSE2,"}, {true, 0, "SSE3,"},  {true, 9, "SSSE3,"},
                                      {true, 19, "SSE41,"}, {true, 20, "SSE42,"}, {true, 28, "AVX,"}};
    std::string features;
    for (const Flag& flag : kFlags)
        if ((((flag.inEcx ? ecx : edx) >> flag.bit) & 1u) != 0) features += flag.text;
    return features;
}

MachineSources LiveMachineSources() {
    MachineSources s;
    struct utsname names {};
    if (uname(&names) == 0) {
        s.sysname = names.sysname;
        s.release = names.release;
        s.version = names.version;
        s.machine = names.machine;
    }
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0) {
        s.cpuidEcx = ecx;
        s.cpuidEdx = edx;
    }
    return s;
}

std::string DescribeMachine(const MachineSources& s) {
    PciNames pci(s.root);
    Json machine = Json::object();
    machine["OS"] = DescribeOs(s);
    machine["CPU"] = DescribeCpu(s);
    std::vector<uint64_t> memory = MemoryModules(s.root);
    // Without readable firmware tables, the memory the kernel manages stands for one module.
    if (memory.empty()) memory.push_back(MemTotalMegabytes(s.root));
    for (std::size_t i = 0; i < memory.size(); ++i) machine["RAM" + std::to_string(i)] = Json{{"megsOfRam", memory[i]}};
    std::size_t gpus = 0;
    for (const auto& [index, card] : NumberedEntries(s.root + "/sys/class/drm", "card"))
        machine["GPU" + std::to_string(gpus++)] = DescribeGpu(s, card, pci);
    std::size_t sounds = 0;
    for (const SoundCard& card : SoundCards(s.root))
        machine["SOUND" + std::to_string(sounds++)] = DescribeSound(s.root, card, pci);
    return machine.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace ts

TS_API const char* SYSINFO_Acquire(void) {
    const ts::SimulationFloatScope floatMode;
    try {
        auto text = std::make_unique<std::string>(ts::DescribeMachine(ts::LiveMachineSources()));
        std::lock_guard<std::mutex> guard(ts::textLock);
        ts::machineText = std::move(text);
        return ts::machineText->c_str();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "Could not describe the machine: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "Could not describe the machine\n");
    }
    return nullptr;
}

TS_API void SYSINFO_Release(void) {
    std::lock_guard<std::mutex> guard(ts::textLock);
    ts::machineText.reset();
}
