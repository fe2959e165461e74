// SYSINFO_Acquire and SYSINFO_Release through the C ABI, on this machine.
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "e2e/hostfixture.h"

namespace tstest {
namespace {

using Json = nlohmann::ordered_json;
using SysInfoTest = HostTest;

std::vector<std::string> Keys(const Json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items()) keys.push_back(item.key());
    return keys;
}

// The processor's flags as the kernel lists them in /proc/cpuinfo.
std::set<std::string> KernelCpuFlags() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("flags", 0) != 0) continue;
        std::istringstream words(line.substr(line.find(':') + 1));
        std::set<std::string> flags;
        std::string word;
        while (words >> word) flags.insert(word);
        return flags;
    }
    return {};
}

// Members of one repeated group ("RAM", "GPU", "SOUND"): consecutive, numbered from 0.
void ExpectGroup(const std::vector<std::string>& keys, std::size_t& at, const std::string& group,
                 const std::vector<std::string>& fields, const Json& machine) {
    for (int index = 0; at < keys.size() && keys[at].rfind(group, 0) == 0 && keys[at] != group; ++index, ++at) {
        EXPECT_EQ(keys[at], group + std::to_string(index));
        EXPECT_EQ(Keys(machine[keys[at]]), fields) << keys[at];
    }
}

TEST_F(SysInfoTest, TextParsesWithMembersInOrderAndFeaturesOfThisProcessor) {
    // Before any acquire, and twice: nothing happens.
    lib().SYSINFO_Release();
    lib().SYSINFO_Release();

    const char* text = lib().SYSINFO_Acquire();
    ASSERT_NE(text, nullptr);
    ASSERT_TRUE(Json::accept(text)) << text;
    const Json machine = Json::parse(text);
    const std::vector<std::string> keys = Keys(machine);
    ASSERT_GE(keys.size(), 3u) << text;
    EXPECT_EQ(keys[0], "OS");
    EXPECT_EQ(keys[1], "CPU");
    EXPECT_EQ(Keys(machine["OS"]), (std::vector<std::string>{"name", "version", "architecture", "platformSpecific"}));
    EXPECT_EQ(Keys(machine["CPU"]),
              (std::vector<std::string>{"name", "manufacturer", "features", "numCores", "clockSpeed"}));
    EXPECT_TRUE(machine["CPU"]["numCores"].is_number_unsigned());
    EXPECT_GE(machine["CPU"]["numCores"].get<uint64_t>(), 1u);
    EXPECT_TRUE(machine["CPU"]["clockSpeed"].is_number_unsigned());

    std::size_t at = 2;
    ExpectGroup(keys, at, "RAM", {"megsOfRam"}, machine);
    EXPECT_GE(at, 3u) << "at least one memory member";
    ExpectGroup(keys, at, "GPU", {"name", "megsOfRam", "driverVersion", "driverDate", "videoModeDescription", "refreshRate"},
                machine);
    ExpectGroup(keys, at, "SOUND", {"name", "productName", "description", "manufacturer", "status", "dmaBufferSize"},
                machine);
    EXPECT_EQ(at, keys.size()) << "unexpected member " << (at < keys.size() ? keys[at] : "");

    // Features: the flags the kernel also reports, in their fixed order, each closed by a comma.
    const std::string features = machine["CPU"]["features"];
    EXPECT_TRUE(std::regex_match(features, std::regex("((SSE|SSE2|SSE3|SSSE3|SSE41|SSE42|AVX),)+"))) << features;
    const std::set<std::string> flags = KernelCpuFlags();
    std::string expected;
    const std::pair<const char*, const char*> order[] = {{"sse", "SSE,"},       {"sse2", "SSE2,"},     {"pni", "SSE3,"},
                                                         {"ssse3", "SSSE3,"},   {"sse4_1", "SSE41,"}, {"sse4_2", "SSE42,"},
                                                         {"avx", "AVX,"}};
    for (const auto& [flag, name] : order)
        if (flags.count(flag) != 0) expected += name;
    EXPECT_EQ(features, expected);
    EXPECT_EQ(features.find("AVX,") != std::string::npos, flags.count("avx") != 0);

    // A second acquire builds the text anew; release twice is harmless.
    const char* again = lib().SYSINFO_Acquire();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(Keys(Json::parse(again)), keys);
    lib().SYSINFO_Release();
    lib().SYSINFO_Release();
}

}  // namespace
}  // namespace tstest
