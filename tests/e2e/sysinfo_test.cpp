// SYSINFO_Acquire and SYSINFO_Release through the C ABI, on this machine: the
// member order and values on a made-up machine are the unit test's; here the
// real files and the processor's own identification are read.
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "e2e/hostfixture.h"

namespace tstest {
namespace {

using Json = nlohmann::ordered_json;
using SysInfoTest = HostTest;

TEST_F(SysInfoTest, DescribesThisMachineWithTheFeaturesOfThisProcessor) {
    // Before any acquire, and twice: nothing happens.
    lib().SYSINFO_Release();
    lib().SYSINFO_Release();

    const char* text = lib().SYSINFO_Acquire();
    ASSERT_NE(text, nullptr);
    ASSERT_TRUE(Json::accept(text)) << text;
    const Json machine = Json::parse(text);
    std::vector<std::string> keys;
    for (const auto& item : machine.items()) keys.push_back(item.key());
    keys.resize(3);  // OS, CPU and at least one memory member come first
    EXPECT_EQ(keys, (std::vector<std::string>{"OS", "CPU", "RAM0"})) << text;
    EXPECT_GE(machine["CPU"]["numCores"].get<uint64_t>(), 1u);

    // Features: the flags the kernel also reports, in their fixed order.
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line) && line.rfind("flags", 0) != 0) {
    }
    const std::string flags = " " + line.substr(line.find(':') + 1) + " ";
    std::string expected;
    for (const auto& [flag, name] : {std::pair{" sse ", "SSE,"}, {" sse2 ", "SSE2,"}, {" pni ", "SSE3,"},
                                     {" ssse3 ", "SSSE3,"}, {" sse4_1 ", "SSE41,"}, {" sse4_2 ", "SSE42,"},
                                     {" avx ", "AVX,"}})
        if (flags.find(flag) != std::string::npos) expected += name;
    EXPECT_FALSE(expected.empty()) << line;
    EXPECT_EQ(machine["CPU"]["features"], expected);

    // A second acquire builds the text anew; release twice is harmless.
    const char* again = lib().SYSINFO_Acquire();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(Json::parse(again).size(), machine.size());
    lib().SYSINFO_Release();
    lib().SYSINFO_Release();
}

}  // namespace
}  // namespace tstest
