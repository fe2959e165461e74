// The other threads of this process, as a crash report sees them: each
// thread's registers where they can be had, taken inside a signal handler.
//
// Every other thread listed in /proc/self/task is sent a request signal. Its
// handler copies the registers it interrupted into static storage, answers,
// and waits there (on a futex) until ReleaseThreads, so that its stack stays
// as the registers describe it while the dump copies it. A thread that does
// not answer within the time limit (it blocks the signal, or is not
// scheduled) is described from /proc/self/task/<tid>/syscall instead, which
// gives its stack and instruction pointers while it waits in the kernel; a
// thread found nowhere any more is left out. Nothing here takes a lock or
// allocates, so a crash on any thread, holding any lock, can gather the rest.
#pragma once

#include <sys/types.h>
#include <sys/ucontext.h>

#include <cstddef>
#include <cstdint>

namespace ts {

enum class ThreadRegisters : uint8_t {
    kNone,        // the thread gave nothing: its record has no usable context
    kStackAndPc,  // only REG_RSP and REG_RIP are known (from the kernel's syscall state)
    kFull,        // every general register, and the floating-point state when hasFpu
};

struct ThreadSnapshot {
    pid_t threadId;
    ThreadRegisters registers;
    bool hasFpu;
    char name[16];  // as in /proc/self/task/<tid>/comm, NUL-terminated
    gregset_t gregs;
    _libc_fpstate fpu;
};

// Copies the registers of a signal context into `out` (name and id are left alone).
void SnapshotRegisters(const ucontext_t& context, ThreadSnapshot& out);

// Reads the kernel's name of a thread of this process ("" when it cannot).
void ReadThreadName(pid_t threadId, char (&name)[16]);

struct GatheredThreads {
    const ThreadSnapshot* threads;
    std::size_t count;
};

// Gathers every thread of the process except `self`, waiting at most
// `timeoutNanoseconds` for their answers. The threads that answered stay
// stopped until ReleaseThreads. At most kMaxGatheredThreads are gathered.
GatheredThreads GatherOtherThreads(pid_t self, int64_t timeoutNanoseconds);

// Lets the gathered threads go on. Safe to call when nothing was gathered.
void ReleaseThreads();

// The signal that carries the requests. Its earlier handler, if any, still
// receives every signal of that number that is not a request.
int ThreadRequestSignal();

// How long a gathered thread waits for its release at most, should the
// gathering thread never release it.
constexpr int64_t kMaxThreadStop = 10'000'000'000;
constexpr std::size_t kMaxGatheredThreads = 512;

}  // namespace ts
