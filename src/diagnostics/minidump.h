// A minidump writer for a crashing thread of this process (x86-64 Linux).
//
// The file is the standard "MDMP" container that debuggers such as lldb open:
// system information, every thread of the process with its register context
// and stack memory (the crashing thread first) and its name, the memory list,
// the module list taken from /proc/self/maps (with each module's GNU build
// id, so debuggers match it to the file on disk), the exception stream (the
// signal), the process id, and the text of the process's maps and status files.
//
// WriteMinidump runs inside a signal handler: it allocates nothing, uses no
// stdio and no locks, and reads memory only through system calls, so a bad
// address costs some bytes of the dump, not a second fault. It is not
// reentrant: one dump at a time.
#pragma once

#include <csignal>
#include <cstdint>

#include <sys/types.h>
#include <ucontext.h>

#include <cstddef>

#include "diagnostics/processthreads.h"

namespace ts {

struct DumpRequest {
    int signal = 0;
    const siginfo_t* info = nullptr;      // may be null
    const ucontext_t* context = nullptr;  // the interrupted thread's registers
    pid_t threadId = 0;                   // kernel thread id of that thread
    // The other threads of the process (GatherOtherThreads), listed after it.
    const ThreadSnapshot* otherThreads = nullptr;
    std::size_t otherThreadCount = 0;
};

// Caches what cannot be read safely inside a signal handler (the number of
// processors). Call once before a crash can happen; later calls refresh it.
void PrepareMinidumpWriter();

// Writes the dump into `fd` from its current position 0. Returns false when a
// write failed; the file may then hold a partial dump.
bool WriteMinidump(int fd, const DumpRequest& request);

// Minidump stream types written here.
enum : uint32_t {
    kStreamThreadList = 3,
    kStreamModuleList = 4,
    kStreamMemoryList = 5,
    kStreamException = 6,
    kStreamSystemInfo = 7,
    kStreamMiscInfo = 15,
    kStreamThreadNames = 24,
    kStreamLinuxProcStatus = 0x47670004,
    kStreamLinuxMaps = 0x47670009,
};

}  // namespace ts
