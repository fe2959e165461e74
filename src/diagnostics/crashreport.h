// Crash reporting: when the process receives a crashing signal (segmentation
// or bus fault, illegal instruction, floating-point exception, abort, or the
// breakpoint trap of SIM_DebugCrash), write a minidump into the working
// directory and hand the host the dump's path and the faulting thread's call
// stack, then let the process end as the signal would have ended it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tesselsim/tesselsim.h"

namespace ts {

// Answers the host callback to hand a crash to (null: none). Called from the
// signal handler, so it must be signal-safe.
using CrashCallbackSource = HostCallback (*)();

// Installs the signal handlers (once per process; later calls only replace the
// callback source, refresh the local-time table and give the calling thread an
// alternate signal stack). The handlers stay installed for the life of the
// process.
void InstallCrashHandler(CrashCallbackSource source);

// Gives the calling thread an alternate signal stack large enough for the
// crash handler, unless it already has one. Threads that may overflow their
// stack need one for the crash to be reported at all. A stack it replaces
// (the host's, a sanitizer's) is neither released nor lost: it is put back
// when the thread ends, and our own stack is mapped once per thread.
void EnsureCrashSignalStack();

// Gives the calling thread back the alternate stack it had before ours and
// releases ours (a thread's end does this). Nothing happens on that stack.
void ReleaseCrashSignalStack();

// Broken-down calendar time.
struct CivilTime {
    int year, month, day, hour, minute, second;
};

// Unix seconds (already shifted to local time) to calendar time, proleptic Gregorian.
CivilTime CivilTimeOf(int64_t seconds);

// UTC offsets of the local zone from now until about a year ahead, computed
// ahead of time because the C library's local-time functions are not safe in a
// signal handler.
class LocalZoneTable {
public:
    void Prepare(int64_t now);
    // Offset in seconds east of UTC at `utcSeconds`.
    int32_t OffsetAt(int64_t utcSeconds) const;

private:
    static constexpr int kMaxSpans = 16;
    struct Span {
        int64_t from;
        int32_t offset;
    };
    Span spans_[kMaxSpans]{};
    int count_ = 0;
};

// Writes "Tessel_CRASH_release_420700_YYYYMMDD-hh.mm.ss.dmp" into `out`, cut to
// 259 characters and to `capacity` - 1. Returns the length. Signal-safe.
std::size_t FormatDumpName(const CivilTime& time, char* out, std::size_t capacity);

}  // namespace ts
