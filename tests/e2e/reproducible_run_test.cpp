// Reproducing a run through the two extension messages: the seed message and
// the world hash. The same save, seed and messages give the same hash in
// separate processes and with one or two pool workers; the hash tells worlds
// one cell apart.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/hostfixture.h"
#include "hostkit/payloads.h"
#include "hostkit/tables.h"
#include "hostkit/world.h"

namespace tstest {
namespace {

namespace fs = std::filesystem;

// The hashes that repro_host prints (two runs per process).
std::vector<std::string> ReproHashes(const std::string& library, uint32_t seed) {
    const fs::path program = fs::read_symlink("/proc/self/exe").parent_path() / "repro_host";
    const std::string command = program.string() + " " + library + " " + std::to_string(seed) + " 200";
    std::vector<std::string> hashes;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char line[128];
        while (std::fgets(line, sizeof line, pipe) != nullptr) {
            const std::string text(line);
            if (text.rfind("hash=", 0) == 0) hashes.push_back(text.substr(5, 16));
        }
        EXPECT_EQ(pclose(pipe), 0) << command;
    }
    return hashes;
}

TEST(ReproducibleRun, SameSeedSameHashInEveryProcessAndWorkerCount) {
    const std::vector<std::string> first = ReproHashes(TS_LIBRARY_PATH, 7);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_NE(first[0], std::string(16, '0'));
    // Two runs in one process, another process, and a library with two workers.
    EXPECT_EQ(first[1], first[0]);
    EXPECT_EQ(ReproHashes(TS_LIBRARY_PATH, 7), first);
    EXPECT_EQ(ReproHashes(TS_WORKERS2_LIBRARY_PATH, 7), first);
    // The seed reaches the physics: another seed, another run.
    const std::vector<std::string> other = ReproHashes(TS_LIBRARY_PATH, 8);
    ASSERT_EQ(other.size(), 2u);
    EXPECT_NE(other[0], first[0]);
}

using ReproMessages = HostTest;

TEST_F(ReproMessages, HashTellsOneCellApartAndRefusalsAreZero) {
    // No world: both refuse with 0, the seed message with a report.
    EXPECT_EQ(lib().SendEmpty(SIM_MSG_HASH_WORLD), 0u);
    EXPECT_EQ(lib().Send(SIM_MSG_SET_RANDOM_SEED, SetRandomSeedPayload{1}), 0u);
    EXPECT_TRUE(ReportRecorder::Saw("there is no world"));

    const tshost::SampleTables t = tshost::LoadSampleTables();
    lib().SendBytes(SIM_MSG_LOAD_ELEMENT_TABLE, tshost::ElementTablePayload(t.elements));
    tshost::WorldLayout w(8, 6, tshost::Matter(tshost::ElementIndex(t.elements, "Oxygen"), 295.0f, 1.2f));
    auto hashOf = [&](const tshost::WorldLayout& layout, uint32_t seed) {
        lib().SendBytes(SIM_MSG_CREATE_WORLD, tshost::CreateWorldPayload(layout));
        EXPECT_EQ(lib().Send(SIM_MSG_SET_RANDOM_SEED, SetRandomSeedPayload{seed}), 1u);
        return lib().SendEmpty(SIM_MSG_HASH_WORLD);
    };
    const uint64_t base = hashOf(w, 5);
    EXPECT_NE(base, 0u);
    EXPECT_EQ(hashOf(w, 5), base);
    EXPECT_NE(hashOf(w, 6), base);
    tshost::WorldLayout changed = w;
    changed.at(3, 2).temperature = 295.5f;
    EXPECT_NE(hashOf(changed, 5), base);

    // A seed payload under 4 bytes is refused and leaves the seed alone.
    ReportRecorder::Clear();
    const uint8_t shortSeed[3] = {9, 9, 9};
    EXPECT_EQ(lib().SIM_HandleMessage(SIM_MSG_SET_RANDOM_SEED, 3, shortSeed), 0u);
    EXPECT_TRUE(ReportRecorder::Saw("4 needed"));
    EXPECT_EQ(lib().SendEmpty(SIM_MSG_HASH_WORLD), hashOf(changed, 5));

    // With the simulation running both act between cycles: the thread stays
    // parked, so two hashes in a row agree and frames still flow afterwards.
    const std::string save = lib().SaveWorld();
    ASSERT_NE(lib().SendBytes(SIM_MSG_LOAD_SAVE_GAME, save), 0u);
    EXPECT_EQ(lib().Send(SIM_MSG_SET_RANDOM_SEED, SetRandomSeedPayload{5}), 1u);
    lib().Send(SIM_MSG_END_FRAME, tshost::EndFrame(0.2f, 0, 0, w.width, w.height));
    ASSERT_NE(lib().ExchangeFrame(tshost::HostCellInput(w.width, w.height, 0)), nullptr);
    const uint64_t running = lib().SendEmpty(SIM_MSG_HASH_WORLD);
    EXPECT_NE(running, 0u);
    EXPECT_EQ(lib().SendEmpty(SIM_MSG_HASH_WORLD), running);
    ASSERT_NE(lib().ExchangeFrame(tshost::HostCellInput(w.width, w.height, 0)), nullptr);
}

}  // namespace
}  // namespace tstest
