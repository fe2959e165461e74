#include "simlib/workerpool.h"

#include <pthread.h>

#include "common/floatmode.h"

namespace ts {

WorkerPool::WorkerPool(int workers, ThreadStartHook threadStart) {
    if (workers < 1) workers = 1;
    // How many jobs wait at once depends on thread timing: room for every
    // batch the step posts, so posting never allocates.
    queue_.reserve(256);
    try {
        for (int i = 0; i < workers; ++i) workers_.emplace_back([this, threadStart] { WorkerLoop(threadStart); });
    } catch (...) {
        // A worker that cannot be created: the ones already running stop
        // (a joinable thread must not be destroyed), and the caller hears of it.
        StopWorkers();
        throw;
    }
}

WorkerPool::~WorkerPool() { StopWorkers(); }

void WorkerPool::StopWorkers() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_ = true;
    }
    workSignal_.notify_all();
    for (auto& worker : workers_) worker.join();
    workers_.clear();
}

void WorkerPool::Post(Job* job) {
    if (workers_.size() == 1) {
        job->Run();
        return;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        queue_.push_back(job);
        ++outstanding_;
    }
    workSignal_.notify_one();
}

void WorkerPool::WaitAll() {
    std::unique_lock<std::mutex> guard(lock_);
    while (Job* job = TakeJob()) {
        guard.unlock();
        job->Run();
        guard.lock();
        --outstanding_;
    }
    jobDoneSignal_.wait(guard, [this] { return outstanding_ == 0; });
}

Job* WorkerPool::TakeJob() {
    if (head_ == queue_.size()) return nullptr;
    Job* job = queue_[head_++];
    if (head_ == queue_.size()) {
        queue_.clear();
        head_ = 0;
    }
    return job;
}

void WorkerPool::WorkerLoop(ThreadStartHook threadStart) {
    // Named so that a debugger, `top -H` and the crash report's thread list tell it apart.
    pthread_setname_np(pthread_self(), "SimWorker");
    SetSimulationFloatMode();
    if (threadStart != nullptr) threadStart();
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        workSignal_.wait(guard, [this] { return stop_ || head_ < queue_.size(); });
        if (stop_) return;
        Job* job = TakeJob();
        guard.unlock();
        job->Run();
        guard.lock();
        if (--outstanding_ == 0) jobDoneSignal_.notify_all();
    }
}

}  // namespace ts
