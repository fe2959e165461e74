// Immediate messages beyond the catalogue, for hosts that reproduce a run: set
// the world's seed, fingerprint the world.
#include "hostapi/handlers.h"
#include "common/report.h"
#include "hostapi/runtime.h"
#include "simlib/passstate.h"
#include "simlib/worldhash.h"

namespace ts {

namespace {

// Runs `job` on the world while no cycle writes it: at once when the sim
// thread is not running, else once the cycle in flight has published.
template <class Job>
void BetweenCycles(Runtime& rt, Job&& job) {
    if (rt.simThread && rt.simThread->IsRunning())
        rt.exchange.RunBetweenCycles(job);
    else
        job();
}

}  // namespace

uint64_t HandleSetRandomSeed(BinaryBufferReader& reader) {
    Runtime& rt = GetRuntime();
    SetRandomSeedPayload payload;
    if (!reader.Read(payload)) {
        TS_WARN("SetRandomSeed refused: payload of %llu bytes, 4 needed",
                static_cast<unsigned long long>(reader.size()));
        return 0;
    }
    if (rt.simData == nullptr) {
        TS_WARN("SetRandomSeed refused: there is no world");
        return 0;
    }
    BetweenCycles(rt, [&] {
        rt.simData->randomSeed = payload.seed;
        // The pass directions are process-wide: a repeated run starts them afresh.
        ProcessPassState() = PassState{};
    });
    return 1;
}

uint64_t HandleHashWorld(BinaryBufferReader&) {
    Runtime& rt = GetRuntime();
    if (rt.simData == nullptr) return 0;
    uint64_t hash = 0;
    BetweenCycles(rt, [&] { hash = HashWorldState(*rt.simData); });
    return hash;
}

}  // namespace ts
