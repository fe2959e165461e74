// Out of memory and threads that cannot be created, seen from a host: a child
// host (tests/programs/limited_host.cpp) runs under an address-space limit and
// prints what the library answered. Nothing may escape the C boundary, and a
// failed load leaves the previous world as it was.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;  // the sanitizers reserve far more address space than any limit allows
#else
constexpr bool kSanitized = false;
#endif

struct ChildOutput {
    int status = -1;
    std::string output;
    std::map<std::string, std::string> values;
};

ChildOutput RunLimitedHost(const std::string& mode) {
    const auto program = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "limited_host";
    ChildOutput run;
    FILE* pipe = popen((program.string() + " " + mode + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) run.output += buffer;
    run.status = pclose(pipe);
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) run.values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return run;
}

TEST(Limits, OutOfMemoryInALoadOrCreateLeavesTheRunningWorld) {
    if (kSanitized) GTEST_SKIP() << "address-space limits do not combine with the sanitizers";
    for (const char* mode : {"load", "create"}) {
        SCOPED_TRACE(mode);
        const ChildOutput run = RunLimitedHost(mode);
        ASSERT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.output;
        EXPECT_EQ(run.values.at("small"), "1");
        EXPECT_EQ(run.values.at("result"), "0");
        EXPECT_EQ(run.values.at("reported"), "1");
        EXPECT_EQ(run.values.at("old-world-runs"), "1");
        EXPECT_EQ(run.values.at("old-world-saves"), "1");
    }
}

TEST(Limits, ThreadsThatCannotBeCreated) {
    if (kSanitized) GTEST_SKIP() << "address-space limits do not combine with the sanitizers";
    // SIM_Initialize: no SimThread, so every message answers 0.
    ChildOutput run = RunLimitedHost("init");
    ASSERT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.output;
    EXPECT_EQ(run.values.at("reported"), "1");
    EXPECT_EQ(run.values.at("table"), "0");
    // A load whose thread cannot start is refused and the previous world kept.
    run = RunLimitedHost("start");
    ASSERT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.output;
    EXPECT_EQ(run.values.at("created"), "48");
    EXPECT_EQ(run.values.at("result"), "0");
    EXPECT_EQ(run.values.at("reported"), "1");
    EXPECT_EQ(run.values.at("exchange"), "0");
    EXPECT_EQ(run.values.at("old-world-saves"), "1");
}

}  // namespace
