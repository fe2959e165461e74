// The library's process-wide objects, reached from the exports and the host
// interface only. The lower layers see none of it: they get what they need
// through the hooks installed here (the report sink and the process logger in
// common/, the crash handler's callback source, the sim thread's hooks).
#pragma once

#include <atomic>
#include <memory>

#include "common/logger.h"
#include "conduittemperaturemanager/conduittemperaturemanager.h"
#include "persistence/savebuffer.h"
#include "simlib/disease.h"
#include "simlib/elementtable.h"
#include "simlib/simthread.h"
#include "simlib/world.h"
#include "tesselsim/tesselsim.h"

namespace ts {

struct Runtime {
    std::atomic<HostCallback> callback{nullptr};
    std::unique_ptr<Logger> logger;
    std::unique_ptr<SimThread> simThread;
    HostExchange exchange;
    std::unique_ptr<World> simData;
    ElementTable elementTable;
    DiseaseTable diseaseTable;
    FrameResults frameResults{};  // valid until the next exchange or load
    std::unique_ptr<SaveBuffer> saveBuffer;
    // Lives apart from the world: only its own exports create and destroy it.
    ConduitManagerSlot conduits;
    // Pool workers of the next SIM_Initialize; 0: the build's default. Set only
    // by in-process benchmarks and tests (results are the same for any count).
    int simWorkers = 0;
};

Runtime& GetRuntime();
HostCallback CurrentHostCallback();

// The sim thread reads the tables and the world without locks: neither is
// replaced under a running simulation. True, with the host told that `what`
// was refused, while the simulation runs.
bool RefusedWhileRunning(const char* what);

// Points the report channel at the host: each report walks the reporting
// thread's stack and goes to the current host callback, if any.
void InstallReportSink();

// The process's sim thread, with the hooks that tie it to the rest of the
// runtime (its crash signal stack, the conduits' removal pass before every
// cycle).
std::unique_ptr<SimThread> CreateSimThread(Runtime& rt, int buildWorkers);

// Stops the sim thread, clears the callback, destroys the world, the result
// buffers and the tables.
void Teardown();

// Makes sure the library's threads are stopped and joined when the process
// exits (or the library is unloaded) without SIM_Shutdown, before anything
// they use is destroyed.
void StopThreadsAtExit();

}  // namespace ts
