// The simulation thread, its handshake with the host, and the frame cycle.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "simlib/frameresults.h"
#include "simlib/gamedata.h"
#include "simlib/physicsstep.h"
#include "simlib/simframemanager.h"
#include "simlib/workerpool.h"

namespace ts {

// The two result buffers, and which of them the sim thread writes next.
struct ResultBuffers {
    std::unique_ptr<GameData> buffers[2];
    uint64_t index = 0;
};

// The handshake between the host thread and the sim thread, and the two
// result buffers they trade.
class HostExchange {
public:
    using ExchangeJob = std::function<void(GameData& nextWrite, GameData& finished)>;

    // Host thread: waits until the sim thread has published its cycle, runs
    // `job`, swaps the buffers and releases the sim thread. False (with a
    // report) when no world has been loaded.
    bool SubmitToSimThread(const ExchangeJob& job);
    // Sim thread: marks the cycle's results complete and parks until released.
    void PublishAndWait();
    // Host thread, with the sim thread running: waits until the released cycle
    // has published and runs `job` while the thread stays parked.
    void RunBetweenCycles(const std::function<void()>& job);

    GameData* SimWriteBuffer() { return results_.buffers[results_.index].get(); }
    GameData* HostReadBuffer() { return results_.buffers[(results_.index - 1) & 1].get(); }

    // Both buffers for the world's grid, filled from its live cells. Built
    // before anything is replaced, so a load that runs out of memory here
    // leaves the running world alone.
    static ResultBuffers BuildBuffers(const World& world);
    // Host thread, while no sim thread runs: trades the buffers with
    // `other` (a load installs new ones and keeps the old ones until the new
    // world runs). Started exactly when buffers are installed.
    void SwapBuffers(ResultBuffers& other);
    // Builds and installs both buffers, while no sim thread runs.
    void Initialise(const World& world) {
        ResultBuffers built = BuildBuffers(world);
        SwapBuffers(built);
    }
    // Destroys both buffers and clears the handshake flags.
    void Reset();
    bool started() const { return started_; }

    // Held by the sim thread for each whole cycle.
    std::mutex cycleLock;

private:
    ResultBuffers results_;
    bool frameDone_ = false;
    bool started_ = false;
    std::mutex handshakeLock_;
    std::condition_variable frameDoneSignal_;
    std::condition_variable releaseSignal_;
};

class Thread {
public:
    // `threadStart` runs first on the new thread, before Start returns.
    explicit Thread(std::string name, ThreadStartHook threadStart = nullptr)
        : name_(std::move(name)), startHook_(threadStart) {}
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    void Start();
    void RequestStop() { stopFlag_.exchange(1); }
    void Join();
    bool IsRunning() const { return threadId_.load() != 0; }
    bool IsCurrentThread() const { return IsRunning() && thread_.get_id() == std::this_thread::get_id(); }
    const std::string& name() const { return name_; }

protected:
    virtual void Run() = 0;
    bool StopRequested() const { return stopFlag_.load() != 0; }

private:
    std::string name_;
    std::thread thread_;
    std::atomic<pid_t> threadId_{0};
    std::atomic<uint8_t> stopFlag_{0};
    std::atomic<bool> launched_{false};
    ThreadStartHook startHook_;
};

// Where the sim thread's cycles go, summed over cycles while a benchmark has
// set it (read it while holding cycleLock).
struct CycleTimings {
    enum Stage { Other, Apply, Steps, Publish, StageCount };  // other: conduits, frame lists, component Publish
    double seconds[StageCount] = {};
    uint64_t cycles = 0;
    StepTimings step;
    PublishTimings publication;
};

class SimThread final : public Thread {
public:
    // `workers`: threads of the pool that runs the heat bands and row copies;
    // `threadStart` runs first on the sim thread and on each of them.
    explicit SimThread(HostExchange& exchange, int workers = 1, ThreadStartHook threadStart = nullptr);
    ~SimThread() override;

    SimFrameManager& frameManager() { return frameManager_; }
    HostExchange& exchange() { return exchange_; }
    WorkerPool& pool() { return *pool_; }
    StepContext& stepContext() { return *stepContext_; }
    float timeAccumulator() const { return timeAccumulator_; }

    // Host thread: starts the frame cycle on `world` with no time carried
    // (frames already closed are applied by the first cycle). Throws when the
    // thread cannot be created.
    void StartOn(World& world);
    // Host thread: hands a running thread a stop request and joins it.
    void StopAndJoin();
    // Host thread, from ExchangeFrame: hands the closed frames to the cycle
    // being released.
    void ReleaseClosedFrames() { frameManager_.ReleaseReadyFrames(); }

    // Work of the thread's owner at the top of every cycle, inside cycleLock
    // (the host interface runs the conduits' removals there). Set before StartOn.
    void SetBeforeCycle(std::function<void()> hook) { beforeCycle_ = std::move(hook); }

    // One frame cycle (the body of the loop; public for in-process tests).
    void RunCycle();
    // Steps for a frame of `dt` seconds, carrying the remainder.
    int32_t StepsFor(float dt);

    // Benchmarks: times every cycle into `timings` (nullptr stops). Set it
    // before the thread starts.
    void SetTimings(CycleTimings* timings) {
        timings_ = timings;
        stepContext_->timings = timings ? &timings->step : nullptr;
        publishContext_.timings = timings ? &timings->publication : nullptr;
    }

protected:
    void Run() override;

private:
    SimFrameManager frameManager_;
    FloodFill consumeFill_;  // scratch of ConsumeMass
    std::unique_ptr<WorkerPool> pool_;
    std::unique_ptr<StepContext> stepContext_;
    PublishContext publishContext_;
    HostExchange& exchange_;
    float timeAccumulator_ = 0.0f;
    World* world_ = nullptr;
    std::function<void()> beforeCycle_;
    CycleTimings* timings_ = nullptr;
};


}  // namespace ts
