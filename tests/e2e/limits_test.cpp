// Out of memory and threads that cannot be created, seen from a host: a child
// host (tests/programs/limited_host.cpp) runs under an address-space limit and
// prints what the library answered. Nothing may escape the C boundary, and a
// failed load leaves the previous world as it was.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <map>

#include "common/testio.h"
#include <sstream>
#include <string>

namespace {

// The sanitizers reserve far more address space than any limit allows.
constexpr bool kSanitized = tstest::kAddressSanitizer || tstest::kThreadSanitizer;

struct ChildOutput {
    int status = -1;
    std::string output;
    std::map<std::string, std::string> values;
};

ChildOutput RunLimitedHost(const std::string& mode) {
    const auto program = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "limited_host";
    ChildOutput run;
    run.output = tstest::CommandOutput(program.string() + " " + mode + " 2>&1", &run.status);
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) run.values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return run;
}

// A load or create without the memory for the new world, SIM_Initialize when
// no thread can be created (every message then answers 0), and a load whose
// sim thread cannot start: each refused with a report, the previous world kept.
TEST(Limits, OutOfMemoryAndThreadsThatCannotBeCreated) {
    if (kSanitized) GTEST_SKIP() << "address-space limits do not combine with the sanitizers";
    const std::map<std::string, std::string> oldWorldKept = {
        {"small", "1"}, {"result", "0"}, {"reported", "1"}, {"old-world-runs", "1"}, {"old-world-saves", "1"}};
    const std::pair<const char*, std::map<std::string, std::string>> cases[] = {
        {"load", oldWorldKept},
        {"create", oldWorldKept},
        {"init", {{"reported", "1"}, {"table", "0"}}},
        {"start", {{"created", "48"}, {"result", "0"}, {"reported", "1"}, {"exchange", "0"}, {"old-world-saves", "1"}}},
    };
    for (const auto& [mode, expected] : cases) {
        SCOPED_TRACE(mode);
        const ChildOutput run = RunLimitedHost(mode);
        ASSERT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.output;
        for (const auto& [name, value] : expected) EXPECT_EQ(run.values.count(name) ? run.values.at(name) : "", value) << name;
    }
}

}  // namespace
