// Immediate handlers and exports that build, replace, amend and save the
// world. The byte formats are persistence's; here is what the runtime does
// with them: refusals, the order in which a world is replaced, the locks.
#include <new>
#include <string>
#include <vector>

#include "common/report.h"
#include "hostapi/catchall.h"
#include "hostapi/handlers.h"
#include "hostapi/runtime.h"
#include "persistence/worldbuild.h"
#include "persistence/worldsave.h"

namespace ts {

namespace {

// Installs `world` in place of the current one and starts the sim thread on
// it; a thread that cannot start puts the previous world back (running again
// if it ran). False when the previous world was kept.
bool ReplaceRunningWorld(Runtime& rt, std::unique_ptr<World>& world, ResultBuffers& buffers) {
    SimThread& thread = *rt.simThread;
    const bool wasRunning = thread.IsRunning();
    // A running simulation is stopped before its world is replaced.
    if (wasRunning) thread.StopAndJoin();
    rt.exchange.SwapBuffers(buffers);
    rt.simData.swap(world);
    try {
        thread.StartOn(*rt.simData);
        return true;
    } catch (const std::exception& e) {
        rt.exchange.SwapBuffers(buffers);
        rt.simData.swap(world);
        TS_WARN("LoadSaveGame refused, previous world kept: the simulation thread could not be started (%s)",
                e.what());
    }
    if (wasRunning) {
        try {
            thread.StartOn(*rt.simData);
        } catch (const std::exception& again) {
            TS_WARN("LoadSaveGame: the previous world's thread could not be restarted (%s)", again.what());
        }
    }
    return false;
}

}  // namespace

uint64_t HandleCreateWorld(BinaryBufferReader& reader) {
    Runtime& rt = GetRuntime();
    if (RefusedWhileRunning("CreateWorld")) return 0;
    std::string error;
    std::unique_ptr<World> world;
    try {
        // Built whole before the current world is replaced.
        world = CreateWorldFromPayload(reader, rt.elementTable, rt.diseaseTable, error);
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    }
    if (!world) {
        TS_WARN("CreateWorld refused, previous world kept: %s", error.c_str());
        return 0;
    }
    const uint64_t result = uint64_t(world->numGameCells);
    rt.simData = std::move(world);
    return result;
}

uint64_t HandleLoadSaveGame(BinaryBufferReader& reader) {
    Runtime& rt = GetRuntime();
    SaveLayout layout;
    std::string error;
    if (!ValidateSave(reader.current(), reader.remaining(), layout, error) ||
        !TablesCanBuildWorld(rt.elementTable, error)) {
        TS_WARN("LoadSaveGame refused, current world kept: %s", error.c_str());
        return 0;
    }
    // The new world and its result buffers are built before the current
    // world is touched: a load that fails, out of memory included, leaves it
    // running.
    std::unique_ptr<World> world;
    ResultBuffers buffers;
    try {
        world = WorldFromSave(reader.current(), layout, rt.elementTable, rt.diseaseTable);
        buffers = HostExchange::BuildBuffers(*world);
    } catch (const std::bad_alloc&) {
        TS_WARN("LoadSaveGame refused, current world kept: out of memory for a %d x %d world", layout.width,
                layout.height);
        return 0;
    }
    reader.Skip(reader.remaining());
    if (!ReplaceRunningWorld(rt, world, buffers)) return 0;
    return reinterpret_cast<uint64_t>(BuildFrameResults(*rt.exchange.HostReadBuffer(), rt.frameResults));
}

uint64_t HandleLoadCellByteGrid(BinaryBufferReader& reader) {
    Runtime& rt = GetRuntime();
    World* world = rt.simData.get();
    if (world == nullptr) {
        TS_WARN("LoadCellByteGrid refused: there is no world");
        return 0;
    }
    std::vector<uint8_t> grid;
    std::string error;
    if (!ReadCellByteGrid(reader, *world, grid, error)) {
        TS_WARN("LoadCellByteGrid refused: %s", error.c_str());
        return 0;
    }
    std::lock_guard<std::mutex> cycle(rt.exchange.cycleLock);
    world->cellByteGrid.swap(grid);
    return 0;
}

uint64_t HandleSettleWorld(BinaryBufferReader&) {
    Runtime& rt = GetRuntime();
    if (rt.simData == nullptr) {
        TS_WARN("SettleWorld refused: there is no world");
        return 0;
    }
    std::lock_guard<std::mutex> cycle(rt.exchange.cycleLock);
    SettleWorld(*rt.simData);
    return 0;
}

}  // namespace ts

using namespace ts;

TS_API const uint8_t* SIM_BeginSave(uint32_t* outLength) {
    uint32_t ignored = 0;
    if (outLength == nullptr) outLength = &ignored;
    *outLength = 0;
    return CatchAll("SIM_BeginSave", static_cast<const uint8_t*>(nullptr), [&]() -> const uint8_t* {
        Runtime& rt = GetRuntime();
        rt.saveBuffer.reset();
        if (rt.simData == nullptr) {
            TS_WARN("SIM_BeginSave refused: there is no world");
            return nullptr;
        }
        // Never read the world while a cycle writes it.
        std::lock_guard<std::mutex> cycle(rt.exchange.cycleLock);
        const uint64_t length = SaveLength(*rt.simData);
        if (length > UINT32_MAX) {
            TS_WARN("SIM_BeginSave refused: a save of %llu bytes does not fit its 32-bit length",
                    static_cast<unsigned long long>(length));
            return nullptr;
        }
        rt.saveBuffer = std::make_unique<SaveBuffer>(length);
        WriteSave(*rt.simData, *rt.saveBuffer);
        *outLength = static_cast<uint32_t>(length);
        return rt.saveBuffer->data();
    });
}

TS_API void SIM_EndSave(void) {
    CatchAll("SIM_EndSave", [] { GetRuntime().saveBuffer.reset(); });
}
