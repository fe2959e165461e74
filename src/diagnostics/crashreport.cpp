#include "diagnostics/crashreport.h"

#include <fcntl.h>
#include <pthread.h>
#include <setjmp.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <ctime>
#include <mutex>
#include <new>

#include "diagnostics/minidump.h"
#include "diagnostics/processthreads.h"
#include "diagnostics/signalsafe.h"
#include "diagnostics/stackwalk.h"
#include "tesselsim/tesselsim.h"

namespace ts {
namespace {

// Build identity, part of every dump's name.
constexpr char kDumpPrefix[] = "Tessel_CRASH";
constexpr char kBranch[] = "release";
constexpr int kBuildNumber = 420700;

constexpr std::size_t kDumpPathCapacity = 260;
constexpr std::size_t kStackTextCapacity = 32 << 10;
constexpr std::size_t kSignalStackSize = 1 << 20;  // dump writer, stack walk and the host's callback
constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP};

// The report is made in steps. A fault inside one step (the stack walk
// allocates and may meet a heap the crash broke) skips to the next step
// instead of killing the process before it ends the proper way. The other
// threads stay stopped from their gathering until the dump is written, and
// are let go before the host is called.
enum Step : int {
    kCheckDebugger,
    kCreateDump,
    kGatherThreads,
    kWriteDump,
    kReleaseThreads,
    kCloseDump,
    kWalkStack,
    kCallHost,
    kDone
};

// How long the other threads get to answer: they normally take microseconds;
// one that blocks the signal is described without its answer after this.
constexpr int64_t kGatherTimeout = 1000 * 1000 * 1000;

std::mutex installLock;
bool installed = false;
struct sigaction previousActions[NSIG];
LocalZoneTable zoneTables[2];
std::atomic<int> activeZone{0};

// Handler state: only the reporting thread touches it. The reporting thread
// keeps its claim after handing the signal on: other threads that crash
// meanwhile wait for the process to end instead of writing over its dump,
// unless it is still alive a while after the report (a previous handler let
// it go on).
std::atomic<pid_t> reportingThread{0};
std::atomic<bool> reportRunning{false};
std::atomic<int64_t> reportEndedAt{0};  // monotonic nanoseconds
constexpr int64_t kSurvivalGrace = 1000 * 1000 * 1000;
volatile sig_atomic_t nextStep = kDone;
sigjmp_buf stepRecovery;
int crashSignal = 0;
ucontext_t* crashContext = nullptr;
siginfo_t* crashInfo = nullptr;
int dumpFd = -1;
volatile sig_atomic_t dumpWritten = 0;
GatheredThreads otherThreads{nullptr, 0};
HostCallback crashCallback = nullptr;
// Where the handler finds the host callback at the time of the crash.
std::atomic<CrashCallbackSource> callbackSource{nullptr};
char dumpPath[kDumpPathCapacity];
char stackText[kStackTextCapacity];
char statusText[4096];

using signalsafe::CurrentThreadId;
using signalsafe::MonotonicNanoseconds;

// A debugger shows as the tracer in the process status.
bool DebuggerAttached() {
    const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::size_t length = 0;
    while (length + 1 < sizeof statusText) {
        const ssize_t got = read(fd, statusText + length, sizeof statusText - 1 - length);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        length += static_cast<std::size_t>(got);
    }
    close(fd);
    statusText[length] = '\0';
    static constexpr char kKey[] = "\nTracerPid:";
    for (std::size_t i = 0; i + sizeof kKey - 1 <= length; ++i) {
        std::size_t k = 0;
        while (k < sizeof kKey - 1 && statusText[i + k] == kKey[k]) ++k;
        if (k != sizeof kKey - 1) continue;
        const char* p = statusText + i + k;
        while (*p == ' ' || *p == '\t') ++p;
        return *p >= '1' && *p <= '9';
    }
    return false;
}

void CreateDumpFile() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const LocalZoneTable& zone = zoneTables[activeZone.load(std::memory_order_acquire)];
    const int64_t local = static_cast<int64_t>(now.tv_sec) + zone.OffsetAt(now.tv_sec);
    FormatDumpName(CivilTimeOf(local), dumpPath, sizeof dumpPath);
    // The dump holds process memory: readable by its owner only.
    dumpFd = open(dumpPath, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

void WriteDump() {
    if (dumpFd < 0) return;
    DumpRequest request;
    request.signal = crashSignal;
    request.info = crashInfo;
    request.context = crashContext;
    request.threadId = CurrentThreadId();
    request.otherThreads = otherThreads.threads;
    request.otherThreadCount = otherThreads.count;
    dumpWritten = WriteMinidump(dumpFd, request) ? 1 : 0;
}

void RunStep(int step) {
    switch (step) {
        case kCheckDebugger:
            // The debugger sees the signal as if we were not here.
            if (DebuggerAttached()) nextStep = kDone;
            break;
        case kCreateDump:
            CreateDumpFile();
            break;
        case kGatherThreads:
            // Without a file to write there is no reason to stop anyone.
            if (dumpFd >= 0) otherThreads = GatherOtherThreads(CurrentThreadId(), kGatherTimeout);
            break;
        case kWriteDump:
            WriteDump();
            break;
        case kReleaseThreads:
            ReleaseThreads();
            break;
        case kCloseDump:
            if (dumpFd >= 0 && close(dumpFd) != 0) dumpWritten = 0;
            dumpFd = -1;
            break;
        case kWalkStack:
            if (CrashCallbackSource source = callbackSource.load(std::memory_order_acquire))
                crashCallback = source();
            if (dumpWritten && crashCallback != nullptr)
                CallStackTextFromContext(crashContext, stackText, sizeof stackText);
            break;
        case kCallHost:
            if (dumpWritten && crashCallback != nullptr) {
                stackText[sizeof stackText - 1] = '\0';
                SimCrashReport record{stackText, dumpPath};
                crashCallback(SIM_CALLBACK_CRASH, &record);
            }
            break;
        default:
            break;
    }
}

bool IsFaultSignal(int signal) { return signal == SIGSEGV || signal == SIGBUS || signal == SIGILL || signal == SIGFPE; }

void OnCrashSignal(int signal, siginfo_t* info, void* context);

void RestoreDefaultInKernel(int signal) {
    struct KernelSigaction {
        void (*handler)(int);
        unsigned long flags;
        void (*restorer)();
        uint64_t mask;
    };
    KernelSigaction action{SIG_DFL, 0, nullptr, 0};
    syscall(SYS_rt_sigaction, signal, &action, nullptr, sizeof action.mask);
}

// Hands the signal to whatever would have received it without us (the
// default action, or a handler installed before ours), so the process ends as
// the signal ends it: with its core dump, its exit status, or the previous
// handler's report.
void PassSignalOn(int signal, const siginfo_t* info) {
    struct sigaction action = previousActions[signal];
    if (action.sa_handler == SIG_DFL || action.sa_handler == SIG_IGN) {
        // An ignored crash signal would run on (or fault forever): end as by
        // default. Set straight in the kernel, so that no runtime that wraps
        // sigaction (a sanitizer's) can stand between the signal and its end.
        RestoreDefaultInKernel(signal);
    } else {
        sigaction(signal, &action, nullptr);
    }
    reportEndedAt.store(MonotonicNanoseconds(), std::memory_order_release);
    reportRunning.store(false, std::memory_order_release);
    if (IsFaultSignal(signal) && info != nullptr && info->si_code > 0) {
        // Returning runs the faulting instruction again, which now meets the restored action.
        return;
    }
    // Unblocked first: a runtime that wraps our handler (a sanitizer's) may
    // run it with every signal blocked, and a pending signal would only come
    // back to us after we return.
    const uint64_t mask = uint64_t{1} << (signal - 1);
    syscall(SYS_rt_sigprocmask, SIG_UNBLOCK, &mask, nullptr, sizeof mask);
    syscall(SYS_tgkill, getpid(), CurrentThreadId(), signal);
    // Still here: a debugger or the previous handler let the process go on.
    // Stay ready for the next crash.
    struct sigaction ours {};
    ours.sa_sigaction = OnCrashSignal;
    ours.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&ours.sa_mask);
    sigaction(signal, &ours, nullptr);
    reportingThread.store(0, std::memory_order_release);
}

// Claims the report for this thread. Returns false for a fault inside this
// thread's own report, which the caller turns into skipping the faulting step.
bool ClaimReport(pid_t self) {
    for (;;) {
        pid_t expected = 0;
        if (reportingThread.compare_exchange_strong(expected, self, std::memory_order_acq_rel)) return true;
        if (expected == self) return !reportRunning.load(std::memory_order_acquire);
        // Another thread reports a crash and normally ends the process. Take
        // over only when the process outlived that report.
        const int64_t ended = reportEndedAt.load(std::memory_order_acquire);
        if (!reportRunning.load(std::memory_order_acquire) && ended != 0 &&
            MonotonicNanoseconds() - ended > kSurvivalGrace &&
            reportingThread.compare_exchange_strong(expected, self, std::memory_order_acq_rel))
            return true;
        timespec pauseTime{0, 10 * 1000 * 1000};
        nanosleep(&pauseTime, nullptr);
    }
}

void OnCrashSignal(int signal, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    // A fault while this thread reports: give up the step that faulted.
    if (!ClaimReport(CurrentThreadId())) siglongjmp(stepRecovery, 1);
    reportRunning.store(true, std::memory_order_release);
    crashSignal = signal;
    crashInfo = info;
    crashContext = static_cast<ucontext_t*>(context);
    dumpWritten = 0;
    dumpFd = -1;
    otherThreads = GatheredThreads{nullptr, 0};
    crashCallback = nullptr;
    dumpPath[0] = '\0';
    stackText[0] = '\0';
    nextStep = kCheckDebugger;
    sigsetjmp(stepRecovery, 1);
    while (nextStep != kDone) {
        const int step = nextStep;
        nextStep = step + 1;
        RunStep(step);
    }
    PassSignalOn(crashSignal, crashInfo);
    errno = savedErrno;
}

void AppendText(char* out, std::size_t limit, std::size_t& length, const char* text) {
    for (; *text != '\0' && length < limit; ++text) out[length++] = *text;
}

// Decimal with zero padding to `width` characters, the sign counted, as "%0*d" writes it.
void AppendNumber(char* out, std::size_t limit, std::size_t& length, int value, int width) {
    char digits[16];
    int count = 0;
    long long v = value;
    const bool negative = v < 0;
    if (negative) v = -v;
    do {
        digits[count++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    int pad = width - count - (negative ? 1 : 0);
    if (negative && length < limit) out[length++] = '-';
    for (; pad > 0 && length < limit; --pad) out[length++] = '0';
    while (count > 0 && length < limit) out[length++] = digits[--count];
}

}  // namespace

CivilTime CivilTimeOf(int64_t seconds) {
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Days since 1970-01-01 to a Gregorian date, counting in 400-year eras from 0000-03-01.
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // 0 = March
    const int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return CivilTime{static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                     static_cast<int>(rest / 3600), static_cast<int>(rest % 3600 / 60), static_cast<int>(rest % 60)};
}

void LocalZoneTable::Prepare(int64_t now) {
    auto offsetAt = [](int64_t t) {
        const time_t value = static_cast<time_t>(t);
        tm parts{};
        if (localtime_r(&value, &parts) == nullptr) return int32_t{0};
        return static_cast<int32_t>(parts.tm_gmtoff);
    };
    count_ = 0;
    int32_t current = offsetAt(now);
    spans_[count_++] = Span{INT64_MIN, current};
    // Zones change their offset at most a few times a year; a daily probe finds
    // each change and a bisection its exact second.
    constexpr int64_t kDay = 86400;
    const int64_t horizon = now + 400 * kDay;
    for (int64_t t = now; t < horizon && count_ < kMaxSpans; t += kDay) {
        const int32_t next = offsetAt(t + kDay);
        if (next == current) continue;
        int64_t before = t;
        int64_t after = t + kDay;
        while (after - before > 1) {
            const int64_t middle = before + (after - before) / 2;
            if (offsetAt(middle) == current) before = middle;
            else after = middle;
        }
        current = offsetAt(after);
        spans_[count_++] = Span{after, current};
    }
}

int32_t LocalZoneTable::OffsetAt(int64_t utcSeconds) const {
    int32_t offset = 0;
    for (int i = 0; i < count_ && spans_[i].from <= utcSeconds; ++i) offset = spans_[i].offset;
    return offset;
}

std::size_t FormatDumpName(const CivilTime& time, char* out, std::size_t capacity) {
    if (capacity == 0) return 0;
    const std::size_t limit = capacity - 1 < kDumpPathCapacity - 1 ? capacity - 1 : kDumpPathCapacity - 1;
    std::size_t length = 0;
    AppendText(out, limit, length, kDumpPrefix);
    AppendText(out, limit, length, "_");
    AppendText(out, limit, length, kBranch);
    AppendText(out, limit, length, "_");
    AppendNumber(out, limit, length, kBuildNumber, 0);
    AppendText(out, limit, length, "_");
    AppendNumber(out, limit, length, time.year, 4);
    AppendNumber(out, limit, length, time.month, 2);
    AppendNumber(out, limit, length, time.day, 2);
    AppendText(out, limit, length, "-");
    AppendNumber(out, limit, length, time.hour, 2);
    AppendText(out, limit, length, ".");
    AppendNumber(out, limit, length, time.minute, 2);
    AppendText(out, limit, length, ".");
    AppendNumber(out, limit, length, time.second, 2);
    AppendText(out, limit, length, ".dmp");
    out[length] = '\0';
    return length;
}

namespace {
// The alternate stack a thread got from us and the one it had before, which
// is given back when the thread ends: whoever set that one (a sanitizer's
// runtime, the host's own crash handler) releases it at its own thread exit.
// The record lives in a page of the stack's own mapping and is found through
// a thread key, not in thread-local storage: a loaded library's thread-local
// storage is allocated on a thread's first use, and the C library aborts the
// process when that allocation finds no memory.
struct SignalStackRecord {
    void* memory;
    std::size_t length;
    stack_t previous;
};

void ReleaseAtThreadExit(void* record);

struct SignalStackKey {
    pthread_key_t key{};
    bool valid = false;
    SignalStackKey() { valid = pthread_key_create(&key, &ReleaseAtThreadExit) == 0; }
    // The library is never unloaded, so this runs only at process exit:
    // threads that end after it leave their stacks mapped, and no thread-exit
    // call into a destroyed key is left behind.
    ~SignalStackKey() {
        if (valid) pthread_key_delete(key);
        valid = false;
    }
};
SignalStackKey signalStackKey;

SignalStackRecord* CurrentSignalStack() {
    return signalStackKey.valid ? static_cast<SignalStackRecord*>(pthread_getspecific(signalStackKey.key)) : nullptr;
}

std::size_t PageSize() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }

// Our stack for this thread, mapped once: a guard page below it (an overflow
// of the signal stack faults instead of writing over other memory), then the
// stack, then the page of its record.
SignalStackRecord* OwnSignalStack() {
    if (SignalStackRecord* record = CurrentSignalStack()) return record;
    if (!signalStackKey.valid) return nullptr;
    const std::size_t page = PageSize();
    const std::size_t length = page + kSignalStackSize + page;
    void* memory = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (memory == MAP_FAILED) return nullptr;
    mprotect(memory, page, PROT_NONE);
    auto* record = new (static_cast<char*>(memory) + page + kSignalStackSize)
        SignalStackRecord{memory, length, stack_t{nullptr, SS_DISABLE, 0}};
    if (pthread_setspecific(signalStackKey.key, record) != 0) {
        munmap(memory, length);
        return nullptr;
    }
    return record;
}

// Puts the thread's previous stack back and unmaps ours; false while ours is
// in use (a handler runs on it) or cannot be replaced.
bool ReleaseSignalStack(SignalStackRecord* record) {
    stack_t current{};
    if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_ONSTACK) != 0) return false;
    const std::size_t page = PageSize();
    const bool inUse =
        (current.ss_flags & SS_DISABLE) == 0 && current.ss_sp == static_cast<char*>(record->memory) + page;
    if (inUse) {
        stack_t previous = record->previous;
        if ((previous.ss_flags & SS_DISABLE) != 0) previous = stack_t{nullptr, SS_DISABLE, 0};
        if (sigaltstack(&previous, nullptr) != 0) return false;
    }
    munmap(record->memory, record->length);  // the record with it
    return true;
}

void ReleaseAtThreadExit(void* record) { ReleaseSignalStack(static_cast<SignalStackRecord*>(record)); }
}  // namespace

void EnsureCrashSignalStack() {
    stack_t current{};
    if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_ONSTACK) != 0) return;
    if ((current.ss_flags & SS_DISABLE) == 0 && current.ss_size >= kSignalStackSize) return;
    SignalStackRecord* record = OwnSignalStack();
    if (record == nullptr) return;
    stack_t next{};
    next.ss_sp = static_cast<char*>(record->memory) + PageSize();
    next.ss_size = kSignalStackSize;
    // The replaced stack is not ours to release; it is put back when the thread ends.
    if (sigaltstack(&next, nullptr) == 0) record->previous = current;
}

void ReleaseCrashSignalStack() {
    SignalStackRecord* record = CurrentSignalStack();
    if (record != nullptr && ReleaseSignalStack(record)) pthread_setspecific(signalStackKey.key, nullptr);
}

void InstallCrashHandler(CrashCallbackSource source) {
    std::lock_guard<std::mutex> guard(installLock);
    callbackSource.store(source, std::memory_order_release);
    PrepareMinidumpWriter();
    const int spare = 1 - activeZone.load(std::memory_order_relaxed);
    zoneTables[spare].Prepare(static_cast<int64_t>(std::time(nullptr)));
    activeZone.store(spare, std::memory_order_release);
    EnsureCrashSignalStack();
    if (installed) return;
    struct sigaction action {};
    action.sa_sigaction = OnCrashSignal;
    // SA_NODEFER: a fault inside the handler comes back to it, which skips the faulting step.
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (const int signal : kCrashSignals) sigaction(signal, &action, &previousActions[signal]);
    installed = true;
}

}  // namespace ts

// Raises a breakpoint trap on the calling thread, so that the crash report runs.
// The nop keeps the resume address inside this function for unwinders.
TS_API __attribute__((noinline)) void SIM_DebugCrash(void) { __asm__ volatile("int3\n\tnop"); }
