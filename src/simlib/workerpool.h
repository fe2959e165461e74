// A pool of worker threads that run posted jobs; the sim thread posts a batch
// and waits for all of it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace ts {

class Job {
public:
    virtual ~Job() = default;
    virtual void Run() = 0;
};

// Runs first on each new thread of the simulation (the host interface gives
// the thread what its crash handler needs there).
using ThreadStartHook = void (*)();

class WorkerPool {
public:
    explicit WorkerPool(int workers = 1, ThreadStartHook threadStart = nullptr);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // With one worker a posted job runs at once on the caller: handing it to
    // the one other thread would only add two wake-ups (and, on a busy
    // machine, a wait for a time slice) to the same work.
    void Post(Job* job);
    // Waits for every posted job, running queued ones on the caller meanwhile.
    // Which thread runs a job never changes a result.
    void WaitAll();
    int workerCount() const { return static_cast<int>(workers_.size()); }

private:
    void WorkerLoop(ThreadStartHook threadStart);
    void StopWorkers();
    Job* TakeJob();  // under the lock; nullptr when the queue is empty

    std::condition_variable jobDoneSignal_;
    std::condition_variable workSignal_;
    std::mutex lock_;
    // First in, first out; a vector with a read position keeps its storage.
    std::vector<Job*> queue_;
    size_t head_ = 0;
    uint32_t outstanding_ = 0;
    std::vector<std::thread> workers_;
    bool stop_ = false;
};


}  // namespace ts
