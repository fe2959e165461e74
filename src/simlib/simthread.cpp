#include "simlib/simthread.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

#include "common/floatmode.h"
#include "common/logger.h"
#include "common/numeric.h"
#include "common/report.h"
#include "simlib/physicsstep.h"

namespace ts {

// ---------------------------------------------------------------- HostExchange

bool HostExchange::SubmitToSimThread(const ExchangeJob& job) {
    {
        std::unique_lock<std::mutex> guard(handshakeLock_);
        if (!TS_CHECK(started_)) return false;
        frameDoneSignal_.wait(guard, [this] { return frameDone_; });
        job(*HostReadBuffer(), *SimWriteBuffer());
        results_.index = (results_.index - 1) & 1;
        frameDone_ = false;
    }
    releaseSignal_.notify_all();
    return true;
}

void HostExchange::PublishAndWait() {
    std::unique_lock<std::mutex> guard(handshakeLock_);
    TS_CHECK(!frameDone_ && started_);
    frameDone_ = true;
    frameDoneSignal_.notify_all();
    releaseSignal_.wait(guard, [this] { return !frameDone_; });
}

void HostExchange::RunBetweenCycles(const std::function<void()>& job) {
    std::unique_lock<std::mutex> guard(handshakeLock_);
    if (!TS_CHECK(started_)) return;
    frameDoneSignal_.wait(guard, [this] { return frameDone_; });
    // The sim thread leaves its park only once frameDone_ is cleared, which
    // needs this lock.
    job();
}

ResultBuffers HostExchange::BuildBuffers(const World& world) {
    ResultBuffers built;
    for (auto& buffer : built.buffers) {
        buffer = std::make_unique<GameData>(uint32_t(world.gameWidth()), uint32_t(world.gameHeight()));
        buffer->CopyCellsFrom(world);
    }
    return built;
}

void HostExchange::SwapBuffers(ResultBuffers& other) {
    std::lock_guard<std::mutex> guard(handshakeLock_);
    std::swap(results_, other);
    frameDone_ = false;
    started_ = results_.buffers[0] != nullptr;
}

void HostExchange::Reset() {
    std::lock_guard<std::mutex> guard(handshakeLock_);
    results_ = ResultBuffers{};
    frameDone_ = false;
    started_ = false;
}

// ---------------------------------------------------------------- Thread

Thread::~Thread() {
    TS_CHECK(!IsRunning());
    // Never leave a joinable thread behind, even after a failed check.
    if (thread_.joinable()) {
        RequestStop();
        thread_.join();
    }
}

void Thread::Start() {
    if (!TS_CHECK(!IsRunning())) return;
    if (thread_.joinable()) thread_.join();
    stopFlag_.store(0);
    launched_.store(false);
    thread_ = std::thread([this] {
        threadId_.store(static_cast<pid_t>(syscall(SYS_gettid)));
        // Debuggers and profilers show the thread by its name (15 characters at most).
        pthread_setname_np(pthread_self(), name_.substr(0, 15).c_str());
        if (startHook_ != nullptr) startHook_();
        launched_.store(true);
        launched_.notify_all();
        if (Logger* logger = ProcessLogger())
            logger->Log(0, 1, "THREAD - started '%s' (%d)", name_.c_str(), int(threadId_.load()));
        Run();
    });
    // IsRunning() holds from the return of Start.
    launched_.wait(false);
}

void Thread::Join() {
    if (!TS_CHECK(IsRunning() && StopRequested())) return;
    RequestStop();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    threadId_.store(0);
}

// ---------------------------------------------------------------- SimThread

SimThread::SimThread(HostExchange& exchange, int workers, ThreadStartHook threadStart)
    : Thread("SimThread", threadStart),
      pool_(std::make_unique<WorkerPool>(workers, threadStart)),
      stepContext_(std::make_unique<StepContext>(*pool_)),
      publishContext_(pool_->workerCount()),
      exchange_(exchange) {}

SimThread::~SimThread() {
    if (IsRunning()) StopAndJoin();
}

void SimThread::StartOn(World& world) {
    world_ = &world;
    // A world starts without the time an earlier one left unfilled: a save
    // loaded twice runs the same steps for the same frames.
    timeAccumulator_ = 0.0f;
    frameManager_.ReleaseReadyFrames();
    Start();
}

void SimThread::StopAndJoin() {
    if (!IsRunning()) return;
    exchange_.SubmitToSimThread([this](GameData&, GameData&) { RequestStop(); });
    Join();
}

int32_t SimThread::StepsFor(float dt) {
    float a = timeAccumulator_ + dt;
    // Beyond the 32-bit range the truncation would give INT32_MIN: saturate.
    const float wanted = a * kStepsPerSecond;
    int32_t steps = wanted >= 2147483648.0f ? INT32_MAX : std::max(TruncToInt32(wanted), 1);
    a = a - float(steps) * kStepSeconds;
    // Time not filled is carried; a debt is forgotten.
    timeAccumulator_ = a > 0.0f ? a : 0.0f;
    return steps;
}

void SimThread::RunCycle() {
    World& world = *world_;
    GameData* write = exchange_.SimWriteBuffer();
    GameData* read = exchange_.HostReadBuffer();
    std::lock_guard<std::mutex> cycle(exchange_.cycleLock);
    StageClock clock(timings_ ? timings_->seconds : nullptr);
    if (beforeCycle_) beforeCycle_();
    const size_t n = frameManager_.TakeReadyFrames();
    std::memset(world.cellFlow.data(), 0, world.cellFlow.size() * sizeof(CellFlow));
    clock.Lap(CycleTimings::Other);
    int32_t budget = SIM_MAX_STEPS_PER_CYCLE;
    bool capped = false;
    for (size_t i = 0; i < n; ++i) {
        const float dt = ApplyPendingFrame(world, frameManager_.takenFrame(i), consumeFill_);
        clock.Lap(CycleTimings::Apply);
        int32_t steps = dt > 0.0f ? StepsFor(dt) : 0;
        if (steps > budget) {
            // The host waits for this cycle: its length stays bounded. One report a cycle.
            if (!capped)
                TS_WARN("a cycle runs at most %d steps: frame %zu asked %d with %d left, the rest of the cycle's "
                        "game time is dropped",
                        SIM_MAX_STEPS_PER_CYCLE, i, steps, budget);
            capped = true;
            steps = budget;
            timeAccumulator_ = 0.0f;
        }
        budget -= steps;
        if (dt > 0.0f) {
            for (int32_t s = 0; s < steps; ++s) Step(*stepContext_, world);
            clock.Lap(CycleTimings::Steps);
        } else {
            world.Snapshot();
            for (auto& component : world.components) component->Publish(world);
            clock.Lap(CycleTimings::Other);
        }
    }
    if (n == 0)
        for (auto& component : world.components) component->Publish(world);
    frameManager_.RetireAppliedFrames();
    clock.Lap(CycleTimings::Other);
    PublishResults(world, *write, *read, uint32_t(n), *pool_, publishContext_);
    clock.Lap(CycleTimings::Publish);
    if (timings_) ++timings_->cycles;
}

void SimThread::Run() {
    SetSimulationFloatMode();
    for (;;) {
        if (StopRequested()) return;
        RunCycle();
        exchange_.PublishAndWait();
    }
}

}  // namespace ts
