// Reproducing a run through the two extension messages: the seed message and
// the world hash. The same save, seed and messages give one pinned hash, in
// every process and also after another session of the same process (the
// pinned hashes of the unit tests cover the worker counts); the hash tells
// worlds one cell apart.
#include <xmmintrin.h>

#include "e2e/hostfixture.h"

namespace tstest {
namespace {

class ReproducibleRun : public SampleHost {
protected:
    // Water over a granite floor, sand, germs, a hot and a cold column in a
    // gas mixture, and a steady trickle of host messages, like a game's.
    uint64_t Session(uint32_t seed, int frames) {
        lib().SIM_Initialize(&ReportRecorder::Callback);
        LoadTables();
        tshost::WorldLayout w(48, 32, tshost::Matter(E("Oxygen"), 295.0f, 1.2f));
        w.Fill(0, 0, 48, 4, tshost::Matter(E("Granite"), 290.0f, 1800.0f));
        w.Fill(4, 4, 20, 10, tshost::Matter(E("Water"), 300.0f, 950.0f));
        w.Fill(26, 12, 32, 16, tshost::Matter(E("Sand"), 295.0f, 1500.0f));
        w.Fill(0, 16, 48, 22, tshost::Matter(E("Carbon dioxide"), 280.0f, 1.9f));
        w.Fill(36, 4, 38, 30, tshost::Matter(E("Hydrogen"), 420.0f, 0.3f));
        w.Fill(42, 4, 44, 30, tshost::Matter(E("Methane"), 200.0f, 0.8f));
        tshost::WorldCell germs = tshost::Matter(E("Water"), 300.0f, 950.0f);
        germs.diseaseIdx = tshost::DiseaseIndex(tables.diseases, "Vibrio bacteria");
        germs.diseaseCount = 50000;
        w.Fill(8, 6, 10, 8, germs);
        Load(w);
        EXPECT_EQ(lib().Send(SIM_MSG_SET_RANDOM_SEED, SetRandomSeedPayload{seed}), 1u);
        for (int f = 0; f < frames; ++f) {
            if (f % 10 == 0)
                lib().Send(SIM_MSG_MODIFY_CELL, tshost::ModifyCell(w.GameCell(12 + f % 7, 28), SIM_NO_CALLBACK, 310.0f, 40.0f,
                                                                  0, E("Water"), SIM_REPLACE_REPLACE, SIM_NO_DISEASE, 0));
            if (f % 25 == 0)
                lib().Send(SIM_MSG_MODIFY_CELL_ENERGY, tshost::ModifyCellEnergy(w.GameCell(30, 2), 500.0f, 600.0f, 0));
            lib().Send(SIM_MSG_SET_FRAME_PARAMETERS, tshost::SetFrameParameters(0.001f, 0.01f, 0.001f, 0.001f, 0));
            EndFrame(0.2f);
            HashViews(Exchange());
        }
        return lib().SendEmpty(SIM_MSG_HASH_WORLD);
    }

    // The views the library derives from the cells as it publishes them.
    uint64_t views = 1469598103934665603ull;
    void HashViews(const tshost::FrameResultsView& r) {
        auto mix = [this](auto span) {
            for (const std::byte b : std::as_bytes(span)) views = (views ^ uint64_t(b)) * 1099511628211ull;
        };
        mix(r.flowVectors());
        mix(r.liquidColours());
        mix(r.lightLevels());
        mix(r.accumulatorCopy());
    }
};

// Pinned, so that every process (and every build, sanitised or not) must
// reach it: re-pin only for a deliberate change of behaviour.
constexpr uint64_t kSeven200Frames = 0x86e69870c6634dba;
constexpr uint64_t kSeven200FramesViews = 0x003e8bf39df7f8a6;

TEST_F(ReproducibleRun, SameSeedSameHashAfterAnotherSession) {
    const uint64_t first = Session(7, 200);
    EXPECT_EQ(first, kSeven200Frames) << std::hex << first;
    EXPECT_EQ(views, kSeven200FramesViews) << std::hex << views;
    // The pass state a short session leaves behind must not reach the next one.
    Session(8, 1);
    EXPECT_EQ(Session(7, 200), first);
    // The seed reaches the physics: another seed, another run.
    EXPECT_NE(Session(8, 200), first);
    for (const auto& report : ReportRecorder::Take()) ADD_FAILURE() << "report: " << report.message;
}

// A host thread may round another way, read denormals as zero and trap on
// invalid operations (a debug build's habit): the library's threads inherited
// that mode, ran other bits, and a NaN test on the sim thread stopped the game
// with SIGFPE. The run is the pinned one, and the host gets its mode back.
TEST_F(ReproducibleRun, TheHostsFloatingPointModeReachesNoComputation) {
    const unsigned host = _mm_getcsr();
    const unsigned odd = (host & ~(_MM_MASK_INVALID | _MM_MASK_DIV_ZERO | _MM_ROUND_MASK)) | _MM_ROUND_TOWARD_ZERO | 0x40u;
    _mm_setcsr(odd);
    const uint64_t hash = Session(7, 200);
    const unsigned after = _mm_getcsr();
    _mm_setcsr(host);
    EXPECT_EQ(hash, kSeven200Frames) << std::hex << hash;
    EXPECT_EQ(views, kSeven200FramesViews) << std::hex << views;
    EXPECT_EQ(after & ~0x3Fu, odd & ~0x3Fu) << std::hex << after;  // control bits; status flags are the host's
}

TEST_F(ReproducibleRun, ALoadedSaveRunsTheSameWhateverRanBefore) {
    LoadTables();
    tshost::WorldLayout w(16, 12, tshost::Matter(E("Oxygen"), 295.0f, 1.2f));
    w.Fill(0, 0, 16, 3, tshost::Matter(E("Granite"), 350.0f, 1800.0f));
    w.Fill(2, 3, 8, 6, tshost::Matter(E("Water"), 280.0f, 950.0f));
    Load(w);
    const std::string save = lib().SaveWorld();
    // Frames of 0.3 s leave a tenth of a second carried: the earlier world's
    // time must not give the loaded one an extra step.
    auto run = [&] {
        EXPECT_NE(lib().SendBytes(SIM_MSG_LOAD_SAVE_GAME, save), 0u);
        EXPECT_EQ(lib().Send(SIM_MSG_SET_RANDOM_SEED, SetRandomSeedPayload{3}), 1u);
        for (int f = 0; f < 5; ++f) RunFrame(0.3f);
        return lib().SendEmpty(SIM_MSG_HASH_WORLD);
    };
    const uint64_t first = run();
    EXPECT_EQ(run(), first);
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
    ASSERT_NE(NextFrame(lib(), w.width, w.height, 0.2f), nullptr);
    const uint64_t running = lib().SendEmpty(SIM_MSG_HASH_WORLD);
    EXPECT_NE(running, 0u);
    EXPECT_EQ(lib().SendEmpty(SIM_MSG_HASH_WORLD), running);
    ASSERT_NE(lib().ExchangeFrame(tshost::HostCellInput(w.width, w.height, 0)), nullptr);
}

}  // namespace
}  // namespace tstest
