#include "diagnostics/processthreads.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "diagnostics/signalsafe.h"

namespace ts {
namespace {

using namespace signalsafe;

// A request carries this tag and the round in its value, so the handler tells
// our requests from the host's own use of the signal and from stale ones.
constexpr uint64_t kRequestTag = 0x5453475448ULL;  // 40 bits
constexpr int64_t kAnswerGrace = 50'000'000;        // a thread caught halfway through its answer

enum SlotState : int { kUnused, kAsked, kAnswering, kAnswered, kMissed };

// Slots the answering handlers write, and the settled list handed out: a
// thread that answers late can still write its slot, never the list.
ThreadSnapshot snapshots[kMaxGatheredThreads];
int slotStates[kMaxGatheredThreads];
ThreadSnapshot gathered[kMaxGatheredThreads];
std::size_t slotCount;     // published before the first request goes out
uint32_t answerCount;      // futex word: answers so far in this round
uint32_t currentRound;
uint32_t releasedRound;    // futex word: the round whose threads may go on
bool handlerInstalled = false;
struct sigaction previousAction;


void FutexWait(uint32_t* word, uint32_t expected, int64_t nanoseconds) {
    timespec limit{static_cast<time_t>(nanoseconds / 1000000000), static_cast<long>(nanoseconds % 1000000000)};
    syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, expected, &limit, nullptr, 0);
}

void FutexWakeAll(uint32_t* word) { syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0); }

uint64_t RequestValue(uint32_t round) { return (kRequestTag << 24) ^ round; }

bool IsOurs(const siginfo_t* info) {
    return info != nullptr && info->si_code == SI_QUEUE && info->si_pid == getpid() &&
           (reinterpret_cast<uint64_t>(info->si_value.sival_ptr) >> 32) == (RequestValue(0) >> 32);
}

// Waits, on the thread's own stack, until the gathering thread has copied it.
void StayStopped(uint32_t round) {
    const int64_t until = MonotonicNanoseconds() + kMaxThreadStop;
    for (;;) {
        const uint32_t released = __atomic_load_n(&releasedRound, __ATOMIC_ACQUIRE);
        if (released == round) return;
        const int64_t left = until - MonotonicNanoseconds();
        if (left <= 0) return;
        FutexWait(&releasedRound, released, left < 100'000'000 ? left : 100'000'000);
    }
}

void Answer(const ucontext_t& context, uint32_t round) {
    const pid_t self = CurrentThreadId();
    const std::size_t count = __atomic_load_n(&slotCount, __ATOMIC_ACQUIRE);
    for (std::size_t i = 0; i < count; ++i) {
        if (snapshots[i].threadId != self) continue;
        int expected = kAsked;
        // Too late: the gathering thread has given up on us and described us otherwise.
        if (!__atomic_compare_exchange_n(&slotStates[i], &expected, kAnswering, false, __ATOMIC_ACQ_REL,
                                         __ATOMIC_ACQUIRE))
            return;
        SnapshotRegisters(context, snapshots[i]);
        __atomic_store_n(&slotStates[i], kAnswered, __ATOMIC_RELEASE);
        __atomic_add_fetch(&answerCount, 1, __ATOMIC_ACQ_REL);
        FutexWakeAll(&answerCount);
        StayStopped(round);
        return;
    }
}

void PassOn(int signal, siginfo_t* info, void* context) {
    const struct sigaction& previous = previousAction;
    if ((previous.sa_flags & SA_SIGINFO) != 0) {
        if (previous.sa_sigaction != nullptr) previous.sa_sigaction(signal, info, context);
    } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(signal);
    }
}

void OnRequest(int signal, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    if (!IsOurs(info)) {
        PassOn(signal, info, context);
    } else {
        const uint32_t round = __atomic_load_n(&currentRound, __ATOMIC_ACQUIRE);
        // A request of an earlier round that this thread unblocked only now: nothing to answer.
        if (reinterpret_cast<uint64_t>(info->si_value.sival_ptr) == RequestValue(round) && context != nullptr)
            Answer(*static_cast<const ucontext_t*>(context), round);
    }
    errno = savedErrno;
}

bool InstallRequestHandler() {
    if (handlerInstalled) return true;
    struct sigaction action {};
    action.sa_sigaction = OnRequest;
    // Interrupted system calls carry on; the host's threads need not know.
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
    sigemptyset(&action.sa_mask);
    // Kept for the rest of the process: a thread that blocks the signal may
    // take a request long after it was sent, and must not die of it.
    if (sigaction(ThreadRequestSignal(), &action, &previousAction) != 0) return false;
    handlerInstalled = true;
    return true;
}

bool SendRequest(pid_t threadId, uint32_t round) {
    siginfo_t info;
    std::memset(&info, 0, sizeof info);
    info.si_signo = ThreadRequestSignal();
    info.si_code = SI_QUEUE;
    info.si_pid = getpid();
    info.si_uid = getuid();
    info.si_value.sival_ptr = reinterpret_cast<void*>(RequestValue(round));
    return syscall(SYS_rt_tgsigqueueinfo, getpid(), threadId, ThreadRequestSignal(), &info) == 0;
}

// Lists the threads of /proc/self/task other than `self` into the slots.
std::size_t ListThreads(pid_t self) {
    const int fd = open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    std::size_t count = 0;
    alignas(8) char buffer[4096];
    for (;;) {
        const long got = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        for (long at = 0; at < got;) {
            // struct linux_dirent64: inode, offset, record length, type, name.
            uint16_t recordLength;
            std::memcpy(&recordLength, buffer + at + 16, sizeof recordLength);
            const char* name = buffer + at + 19;
            const char* end = buffer + at + recordLength;
            at += recordLength;
            if (recordLength == 0) break;
            const char* p = name;
            const uint64_t id = ParseDecimal(p, end);
            if (p == name || *p != '\0' || id == 0 || static_cast<pid_t>(id) == self) continue;
            if (count == kMaxGatheredThreads) break;
            ThreadSnapshot& snapshot = snapshots[count];
            std::memset(&snapshot, 0, sizeof snapshot);
            snapshot.threadId = static_cast<pid_t>(id);
            slotStates[count] = kUnused;
            ++count;
        }
    }
    close(fd);
    return count;
}

void TaskFilePath(pid_t threadId, const char* file, char (&path)[64]) {
    std::size_t length = 0;
    path[0] = '\0';
    Append(path, sizeof path, length, "/proc/self/task/");
    AppendDecimal(path, sizeof path, length, static_cast<uint64_t>(threadId));
    Append(path, sizeof path, length, "/");
    Append(path, sizeof path, length, file);
}

// "nr arg1 .. arg6 sp pc", or "-1 sp pc" outside a system call, while the
// thread waits in the kernel; "running" while it runs. Returns false when the
// thread is gone or the file says nothing.
bool ReadSyscallState(ThreadSnapshot& snapshot, bool& gone) {
    char path[64];
    TaskFilePath(snapshot.threadId, "syscall", path);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    gone = fd < 0 && errno == ENOENT;
    if (fd < 0) return false;
    char text[256];
    ssize_t length;
    do {
        length = read(fd, text, sizeof text);
    } while (length < 0 && errno == EINTR);
    close(fd);
    if (length <= 0) return false;
    const char* fields[9];
    int count = 0;
    const char* const end = text + length;
    for (const char* p = text; p < end && count < 9;) {
        while (p < end && (*p == ' ' || *p == '\n')) ++p;
        if (p == end) break;
        fields[count++] = p;
        while (p < end && *p != ' ' && *p != '\n') ++p;
    }
    if (count != 3 && count != 9) return false;
    uint64_t pointers[2];
    for (int k = 0; k < 2; ++k) {
        const char* p = fields[count - 2 + k];
        if (end - p < 3 || p[0] != '0' || p[1] != 'x') return false;
        p += 2;
        pointers[k] = ParseHex(p, end);
    }
    if (pointers[0] == 0 || pointers[1] == 0) return false;
    snapshot.gregs[REG_RSP] = static_cast<greg_t>(pointers[0]);
    snapshot.gregs[REG_RIP] = static_cast<greg_t>(pointers[1]);
    return true;
}

}  // namespace

void SnapshotRegisters(const ucontext_t& context, ThreadSnapshot& out) {
    for (int r = 0; r < NGREG; ++r) out.gregs[r] = context.uc_mcontext.gregs[r];
    out.hasFpu = context.uc_mcontext.fpregs != nullptr;
    if (out.hasFpu) std::memcpy(&out.fpu, context.uc_mcontext.fpregs, sizeof out.fpu);
    out.registers = ThreadRegisters::kFull;
}

void ReadThreadName(pid_t threadId, char (&name)[16]) {
    char path[64];
    TaskFilePath(threadId, "comm", path);
    std::size_t length = ReadWholeFile(path, name, sizeof name - 1);
    while (length > 0 && name[length - 1] == '\n') --length;
    name[length] = '\0';
}

GatheredThreads GatherOtherThreads(pid_t self, int64_t timeoutNanoseconds) {
    const int64_t deadline = MonotonicNanoseconds() + timeoutNanoseconds;
    // Threads of an earlier round that never got their release go on now.
    const uint32_t round = __atomic_load_n(&currentRound, __ATOMIC_RELAXED) + 1;
    __atomic_store_n(&releasedRound, round - 1, __ATOMIC_RELEASE);
    __atomic_store_n(&slotCount, 0, __ATOMIC_RELEASE);
    __atomic_store_n(&currentRound, round, __ATOMIC_RELEASE);
    __atomic_store_n(&answerCount, 0, __ATOMIC_RELEASE);

    const std::size_t count = ListThreads(self);
    const bool canAsk = InstallRequestHandler();
    for (std::size_t i = 0; i < count; ++i) __atomic_store_n(&slotStates[i], canAsk ? kAsked : kMissed, __ATOMIC_RELEASE);
    __atomic_store_n(&slotCount, count, __ATOMIC_RELEASE);

    uint32_t asked = 0;
    for (std::size_t i = 0; canAsk && i < count; ++i) {
        if (SendRequest(snapshots[i].threadId, round)) {
            ++asked;
            continue;
        }
        int expected = kAsked;
        __atomic_compare_exchange_n(&slotStates[i], &expected, kMissed, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
    }
    for (;;) {
        const uint32_t answers = __atomic_load_n(&answerCount, __ATOMIC_ACQUIRE);
        const int64_t left = deadline - MonotonicNanoseconds();
        if (answers >= asked || left <= 0) break;
        FutexWait(&answerCount, answers, left < 10'000'000 ? left : 10'000'000);
    }

    // Settle every slot: answered, or described from the kernel's view, or gone.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count; ++i) {
        int expected = kAsked;
        __atomic_compare_exchange_n(&slotStates[i], &expected, kMissed, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
        const int64_t graceEnd = MonotonicNanoseconds() + kAnswerGrace;
        while (__atomic_load_n(&slotStates[i], __ATOMIC_ACQUIRE) == kAnswering && MonotonicNanoseconds() < graceEnd)
            sched_yield();
        ThreadSnapshot& out = gathered[kept];
        const int state = __atomic_load_n(&slotStates[i], __ATOMIC_ACQUIRE);
        if (state == kAnswered) {
            out = snapshots[i];
        } else {
            std::memset(&out, 0, sizeof out);
            out.threadId = snapshots[i].threadId;
            out.registers = ThreadRegisters::kNone;
            // A thread still halfway through its answer is there, but its registers are not to be trusted.
            bool gone = false;
            if (state == kMissed && ReadSyscallState(out, gone)) out.registers = ThreadRegisters::kStackAndPc;
            if (gone) continue;
        }
        ReadThreadName(out.threadId, out.name);
        ++kept;
    }
    return GatheredThreads{gathered, kept};
}

// A real-time signal near the top, which hosts rarely use.
int ThreadRequestSignal() { return SIGRTMAX - 4; }

void ReleaseThreads() {
    __atomic_store_n(&releasedRound, __atomic_load_n(&currentRound, __ATOMIC_ACQUIRE), __ATOMIC_RELEASE);
    FutexWakeAll(&releasedRound);
}

}  // namespace ts
