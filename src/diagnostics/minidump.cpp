#include "diagnostics/minidump.h"

#include <cpuid.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "diagnostics/minidumpformat.h"
#include "diagnostics/procmaps.h"
#include "diagnostics/signalsafe.h"

namespace ts {
namespace {

using namespace minidump;
using namespace signalsafe;
using procmaps::Mapping;
using procmaps::MappingAt;

// ---------------------------------------------------------------------------
// Storage. All of it is static: the writer runs inside a signal handler.

constexpr std::size_t kStatusCapacity = 16 << 10;
constexpr std::size_t kStackLimit = 512 << 10;       // bytes of the crashing thread's stack kept above its pointer
constexpr std::size_t kOtherStackLimit = 256 << 10;  // ... and of every other thread's
constexpr std::size_t kRedZone = 128;                // below the stack pointer, used by leaf functions
constexpr std::size_t kCodeAround = 256;             // bytes of code kept on each side of the instruction pointer
constexpr std::size_t kStreamCount = 9;
constexpr std::size_t kMaxThreads = kMaxGatheredThreads + 1;
constexpr std::size_t kMaxMemoryRanges = kMaxThreads + 1;  // every stack and the code at the crash

// One thread of the thread list, as written.
struct DumpThread {
    uint32_t threadId;
    LocationDescriptor context;
    MemoryDescriptor stack;
    char name[16];
};

char statusText[kStatusCapacity];
std::size_t statusLength;
char16_t wideText[8192];
char writeBuffer[64 << 10];
const uint8_t zeroPage[4096] = {};
std::atomic<int> processorCount{0};
DumpThread threads[kMaxThreads];
std::size_t threadCount;
MemoryDescriptor memoryRanges[kMaxMemoryRanges];
uint32_t memoryCount;
uint32_t moduleNameRvas[procmaps::kMaxModules];
LocationDescriptor moduleCvRecords[procmaps::kMaxModules];

// Converts UTF-8 text to UTF-16 (invalid bytes become U+FFFD). Returns units written.
std::size_t Utf16Of(const char* text, std::size_t length, char16_t* out, std::size_t capacity) {
    std::size_t n = 0;
    std::size_t i = 0;
    while (i < length && n + 2 < capacity) {
        const auto byte = static_cast<unsigned char>(text[i]);
        uint32_t code = 0xFFFD;
        std::size_t extra = 0;
        if (byte < 0x80) code = byte;
        else if ((byte & 0xE0) == 0xC0) code = byte & 0x1F, extra = 1;
        else if ((byte & 0xF0) == 0xE0) code = byte & 0x0F, extra = 2;
        else if ((byte & 0xF8) == 0xF0) code = byte & 0x07, extra = 3;
        bool valid = byte < 0x80 || extra > 0;
        if (i + extra >= length && extra > 0) valid = false;
        for (std::size_t k = 1; valid && k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) valid = false;
            else code = (code << 6) | (next & 0x3F);
        }
        if (!valid || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            code = 0xFFFD;
            extra = 0;
        }
        i += extra + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            out[n++] = static_cast<char16_t>(0xD800 + (code >> 10));
            out[n++] = static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out[n++] = static_cast<char16_t>(code);
        }
    }
    return n;
}

// ---------------------------------------------------------------------------
// Sequential writer that knows the file offset (the "RVA") of what it writes.

class DumpFile {
public:
    explicit DumpFile(int fd) : fd_(fd) {}

    bool ok() const { return ok_; }
    uint32_t rva() const { return static_cast<uint32_t>(position_); }

    void Write(const void* data, std::size_t size) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        while (size > 0) {
            if (used_ == sizeof writeBuffer) Flush();
            const std::size_t room = sizeof writeBuffer - used_;
            const std::size_t n = size < room ? size : room;
            std::memcpy(writeBuffer + used_, bytes, n);
            used_ += n;
            bytes += n;
            size -= n;
            position_ += n;
        }
    }

    void Zeros(std::size_t size) {
        while (size > 0) {
            const std::size_t n = size < sizeof zeroPage ? size : sizeof zeroPage;
            Write(zeroPage, n);
            size -= n;
        }
    }

    void Align(std::size_t alignment) {
        const std::size_t rest = position_ % alignment;
        if (rest != 0) Zeros(alignment - rest);
    }

    // Copies process memory straight from its address through write(2), so an
    // unreadable page becomes zeros instead of a fault.
    void Memory(uint64_t address, std::size_t size) {
        Flush();
        while (ok_ && size > 0) {
            // The raw system call: a sanitizer's write() would check the bytes as objects of the program.
            const long n = syscall(SYS_write, fd_, reinterpret_cast<const void*>(address), size);
            if (n > 0) {
                address += static_cast<uint64_t>(n);
                size -= static_cast<std::size_t>(n);
                position_ += static_cast<uint64_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EFAULT) {
                ok_ = false;
                return;
            }
            const std::size_t toPage = 4096 - static_cast<std::size_t>(address % 4096);
            const std::size_t gap = toPage < size ? toPage : size;
            Zeros(gap);
            Flush();
            address += gap;
            size -= gap;
        }
    }

    void WriteAt(uint64_t offset, const void* data, std::size_t size) {
        Flush();
        const auto* bytes = static_cast<const uint8_t*>(data);
        while (ok_ && size > 0) {
            const ssize_t n = pwrite(fd_, bytes, size, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                ok_ = false;
                return;
            }
            bytes += n;
            size -= static_cast<std::size_t>(n);
            offset += static_cast<uint64_t>(n);
        }
    }

    void Flush() {
        std::size_t done = 0;
        while (ok_ && done < used_) {
            const ssize_t n = write(fd_, writeBuffer + done, used_ - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                ok_ = false;
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        used_ = 0;
    }

private:
    int fd_;
    uint64_t position_ = 0;
    std::size_t used_ = 0;
    bool ok_ = true;
};

// A length-prefixed UTF-16 string, as module names and the system's version text are stored.
uint32_t WriteString(DumpFile& file, const char* text, std::size_t length) {
    const std::size_t units = Utf16Of(text, length, wideText, sizeof wideText / sizeof wideText[0]);
    file.Align(4);
    const uint32_t rva = file.rva();
    const uint32_t bytes = static_cast<uint32_t>(units * sizeof(char16_t));
    file.Write(&bytes, sizeof bytes);
    file.Write(wideText, bytes);
    const char16_t terminator = 0;
    file.Write(&terminator, sizeof terminator);
    return rva;
}

// The stream directory, filled as the streams are written.
class Directory {
public:
    void Add(uint32_t type, uint32_t rva, std::size_t size) {
        if (count_ < kStreamCount) entries_[count_++] = DirectoryEntry{type, LocationDescriptor{static_cast<uint32_t>(size), rva}};
    }
    const DirectoryEntry* entries() const { return entries_; }
    uint32_t count() const { return static_cast<uint32_t>(count_); }

private:
    DirectoryEntry entries_[kStreamCount]{};
    std::size_t count_ = 0;
};

// ---------------------------------------------------------------------------
// Threads: registers and stacks.

ContextAmd64 ContextOf(const ThreadSnapshot& thread) {
    ContextAmd64 c{};
    const greg_t* g = thread.gregs;
    if (thread.registers == ThreadRegisters::kNone) {
        c.contextFlags = kContextAmd64;
        return c;
    }
    c.rsp = static_cast<uint64_t>(g[REG_RSP]);
    c.rip = static_cast<uint64_t>(g[REG_RIP]);
    if (thread.registers == ThreadRegisters::kStackAndPc) {
        c.contextFlags = kContextControl;
        return c;
    }
    c.contextFlags = kContextFull;
    c.rax = static_cast<uint64_t>(g[REG_RAX]);
    c.rcx = static_cast<uint64_t>(g[REG_RCX]);
    c.rdx = static_cast<uint64_t>(g[REG_RDX]);
    c.rbx = static_cast<uint64_t>(g[REG_RBX]);
    c.rbp = static_cast<uint64_t>(g[REG_RBP]);
    c.rsi = static_cast<uint64_t>(g[REG_RSI]);
    c.rdi = static_cast<uint64_t>(g[REG_RDI]);
    c.r8 = static_cast<uint64_t>(g[REG_R8]);
    c.r9 = static_cast<uint64_t>(g[REG_R9]);
    c.r10 = static_cast<uint64_t>(g[REG_R10]);
    c.r11 = static_cast<uint64_t>(g[REG_R11]);
    c.r12 = static_cast<uint64_t>(g[REG_R12]);
    c.r13 = static_cast<uint64_t>(g[REG_R13]);
    c.r14 = static_cast<uint64_t>(g[REG_R14]);
    c.r15 = static_cast<uint64_t>(g[REG_R15]);
    c.eFlags = static_cast<uint32_t>(g[REG_EFL]);
    // cs, gs, fs and ss packed in 16-bit fields.
    const auto segments = static_cast<uint64_t>(g[REG_CSGSFS]);
    c.segCs = static_cast<uint16_t>(segments);
    c.segGs = static_cast<uint16_t>(segments >> 16);
    c.segFs = static_cast<uint16_t>(segments >> 32);
    c.segSs = static_cast<uint16_t>(segments >> 48);
    if (thread.hasFpu) {
        static_assert(sizeof thread.fpu == sizeof c.fltSave);
        std::memcpy(c.fltSave, &thread.fpu, sizeof c.fltSave);
        c.mxCsr = thread.fpu.mxcsr;
    }
    return c;
}

struct Range {
    uint64_t start = 0;
    uint64_t size = 0;
};

// The stack from just below the stack pointer up, within its mapping.
Range StackRange(uint64_t sp, std::size_t limit) {
    const Mapping* m = MappingAt(sp);
    if (m == nullptr || !m->readable) return {};
    uint64_t start = (sp - kRedZone) & ~uint64_t{15};
    if (start < m->start) start = m->start;
    uint64_t end = m->end;
    if (end - start > limit) end = start + limit;
    return {start, end - start};
}

Range CodeRange(uint64_t ip) {
    const Mapping* m = MappingAt(ip);
    if (m == nullptr || !m->readable) return {};
    const uint64_t start = ip - m->start > kCodeAround ? ip - kCodeAround : m->start;
    const uint64_t end = m->end - ip > kCodeAround ? ip + kCodeAround : m->end;
    return {start, end - start};
}

bool IsFaultSignal(int signal) { return signal == SIGSEGV || signal == SIGBUS || signal == SIGILL || signal == SIGFPE; }

// Copies a range of memory into the file once and lists it in the memory
// list, which must not overlap itself: a range that starts inside one already
// written is that one, and one that runs into another stops where it begins.
MemoryDescriptor WriteMemory(DumpFile& file, Range range) {
    if (range.size == 0) return {};
    uint64_t end = range.start + range.size;
    for (uint32_t i = 0; i < memoryCount; ++i) {
        const MemoryDescriptor& other = memoryRanges[i];
        const uint64_t otherEnd = other.startOfMemoryRange + other.memory.dataSize;
        if (range.start >= other.startOfMemoryRange && range.start < otherEnd) return other;
        if (other.startOfMemoryRange > range.start && other.startOfMemoryRange < end) end = other.startOfMemoryRange;
    }
    if (memoryCount == kMaxMemoryRanges) return {};
    file.Align(16);
    const MemoryDescriptor written{range.start, LocationDescriptor{static_cast<uint32_t>(end - range.start), file.rva()}};
    file.Memory(range.start, end - range.start);
    memoryRanges[memoryCount++] = written;
    return written;
}

// One thread's context and stack; `context` is kept for the exception stream.
void WriteThread(DumpFile& file, const ThreadSnapshot& snapshot, std::size_t stackLimit, ContextAmd64* context = nullptr) {
    if (threadCount == kMaxThreads) return;
    DumpThread& thread = threads[threadCount++];
    thread.threadId = static_cast<uint32_t>(snapshot.threadId);
    std::memcpy(thread.name, snapshot.name, sizeof thread.name);
    thread.name[sizeof thread.name - 1] = '\0';
    const ContextAmd64 registers = ContextOf(snapshot);
    if (context != nullptr) *context = registers;
    file.Align(16);
    thread.context = LocationDescriptor{sizeof registers, file.rva()};
    file.Write(&registers, sizeof registers);
    thread.stack = snapshot.registers == ThreadRegisters::kNone ? MemoryDescriptor{}
                                                                 : WriteMemory(file, StackRange(registers.rsp, stackLimit));
}

// Every thread's context and stack, the crashing thread first, and the code
// around the crashing instruction.
ContextAmd64 WriteThreadData(DumpFile& file, const DumpRequest& request) {
    threadCount = 0;
    memoryCount = 0;
    static ThreadSnapshot crashing;
    std::memset(&crashing, 0, sizeof crashing);
    crashing.threadId = request.threadId;
    SnapshotRegisters(*request.context, crashing);
    ReadThreadName(request.threadId, crashing.name);
    ContextAmd64 context{};
    WriteThread(file, crashing, kStackLimit, &context);
    WriteMemory(file, CodeRange(context.rip));
    for (std::size_t i = 0; i < request.otherThreadCount; ++i)
        if (request.otherThreads[i].threadId != request.threadId) WriteThread(file, request.otherThreads[i], kOtherStackLimit);
    return context;
}

// ---------------------------------------------------------------------------
// One writer per stream.

void WriteThreadList(DumpFile& file, Directory& directory) {
    file.Align(8);
    const auto count = static_cast<uint32_t>(threadCount);
    directory.Add(kStreamThreadList, file.rva(), sizeof count + threadCount * sizeof(ThreadRecord));
    file.Write(&count, sizeof count);
    for (std::size_t i = 0; i < threadCount; ++i) {
        ThreadRecord record{};
        record.threadId = threads[i].threadId;
        record.stack = threads[i].stack;
        record.threadContext = threads[i].context;
        file.Write(&record, sizeof record);
    }
}

void WriteThreadNames(DumpFile& file, Directory& directory) {
    uint32_t nameRvas[kMaxThreads];
    for (std::size_t i = 0; i < threadCount; ++i) nameRvas[i] = WriteString(file, threads[i].name, Length(threads[i].name));
    file.Align(8);
    const auto count = static_cast<uint32_t>(threadCount);
    directory.Add(kStreamThreadNames, file.rva(), sizeof count + threadCount * sizeof(ThreadNameRecord));
    file.Write(&count, sizeof count);
    for (std::size_t i = 0; i < threadCount; ++i) {
        const ThreadNameRecord record{threads[i].threadId, nameRvas[i]};
        file.Write(&record, sizeof record);
    }
}

void WriteMemoryList(DumpFile& file, Directory& directory) {
    file.Align(8);
    directory.Add(kStreamMemoryList, file.rva(), sizeof memoryCount + memoryCount * sizeof(MemoryDescriptor));
    file.Write(&memoryCount, sizeof memoryCount);
    file.Write(memoryRanges, memoryCount * sizeof(MemoryDescriptor));
}

// The signal, its code, and the faulting address.
void WriteException(DumpFile& file, Directory& directory, const DumpRequest& request, const ContextAmd64& context) {
    ExceptionStream exception{};
    exception.threadId = threads[0].threadId;
    exception.exception.exceptionCode = static_cast<uint32_t>(request.signal);
    if (request.info != nullptr) exception.exception.exceptionFlags = static_cast<uint32_t>(request.info->si_code);
    exception.exception.exceptionAddress = context.rip;
    if (request.info != nullptr && IsFaultSignal(request.signal) && request.info->si_code > 0)
        exception.exception.exceptionAddress = reinterpret_cast<uint64_t>(request.info->si_addr);
    exception.threadContext = threads[0].context;
    file.Align(8);
    directory.Add(kStreamException, file.rva(), sizeof exception);
    file.Write(&exception, sizeof exception);
}

// Names and build ids first, then the list that points at them.
void WriteModuleList(DumpFile& file, Directory& directory) {
    const procmaps::Module* modules = procmaps::Modules();
    const std::size_t count = procmaps::ModuleCount();
    for (std::size_t i = 0; i < count; ++i) {
        const procmaps::Module& m = modules[i];
        moduleNameRvas[i] = WriteString(file, m.path, m.pathLength);
        moduleCvRecords[i] = {};
        if (m.buildIdSize > 0) {
            file.Align(4);
            moduleCvRecords[i] = LocationDescriptor{static_cast<uint32_t>(sizeof kCvSignatureElfBuildId + m.buildIdSize), file.rva()};
            file.Write(&kCvSignatureElfBuildId, sizeof kCvSignatureElfBuildId);
            file.Write(m.buildId, m.buildIdSize);
        }
    }
    file.Align(8);
    const auto count32 = static_cast<uint32_t>(count);
    directory.Add(kStreamModuleList, file.rva(), sizeof count32 + count * sizeof(ModuleRecord));
    file.Write(&count32, sizeof count32);
    for (std::size_t i = 0; i < count; ++i) {
        ModuleRecord record{};
        record.baseOfImage = modules[i].base;
        record.sizeOfImage = static_cast<uint32_t>(modules[i].end - modules[i].base);
        record.moduleNameRva = moduleNameRvas[i];
        record.cvRecord = moduleCvRecords[i];
        file.Write(&record, sizeof record);
    }
}

// Processor identification and kernel version.
void WriteSystemInfo(DumpFile& file, Directory& directory) {
    SystemInfo system{};
    system.processorArchitecture = kArchitectureAmd64;
    system.platformId = kPlatformLinux;
    const int processors = processorCount.load(std::memory_order_relaxed);
    system.numberOfProcessors = static_cast<uint8_t>(processors > 255 ? 255 : processors);
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) != 0) {
        system.vendorId[0] = ebx;
        system.vendorId[1] = edx;
        system.vendorId[2] = ecx;
    }
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0) {
        system.versionInformation = eax;
        system.featureInformation = edx;
        unsigned family = (eax >> 8) & 0xF;
        unsigned model = (eax >> 4) & 0xF;
        if (family == 0xF) family += (eax >> 20) & 0xFF;
        if (family >= 6) model += ((eax >> 16) & 0xF) << 4;
        system.processorLevel = static_cast<uint16_t>(family);
        system.processorRevision = static_cast<uint16_t>((model << 8) | (eax & 0xF));
    }
    if (__get_cpuid(0x80000001, &eax, &ebx, &ecx, &edx) != 0) system.amdExtendedCpuFeatures = ecx;
    struct utsname names {};
    char version[sizeof names.sysname + sizeof names.release + sizeof names.version + sizeof names.machine + 4] = "";
    if (uname(&names) == 0) {
        const char* p = names.release;
        const char* end = p + Length(p);
        system.majorVersion = static_cast<uint32_t>(ParseDecimal(p, end));
        if (p < end && *p == '.') ++p;
        system.minorVersion = static_cast<uint32_t>(ParseDecimal(p, end));
        if (p < end && *p == '.') ++p;
        system.buildNumber = static_cast<uint32_t>(ParseDecimal(p, end));
        std::size_t length = 0;
        Append(version, sizeof version, length, names.sysname);
        Append(version, sizeof version, length, " ");
        Append(version, sizeof version, length, names.release);
        Append(version, sizeof version, length, " ");
        Append(version, sizeof version, length, names.version);
        Append(version, sizeof version, length, " ");
        Append(version, sizeof version, length, names.machine);
    }
    system.csdVersionRva = WriteString(file, version, Length(version));
    file.Align(8);
    directory.Add(kStreamSystemInfo, file.rva(), sizeof system);
    file.Write(&system, sizeof system);

}

void WriteMiscInfo(DumpFile& file, Directory& directory) {
    MiscInfo misc{sizeof(MiscInfo), kMiscProcessId, static_cast<uint32_t>(getpid()), 0, 0, 0};
    file.Align(8);
    directory.Add(kStreamMiscInfo, file.rva(), sizeof misc);
    file.Write(&misc, sizeof misc);
}

// The kernel's own text, as read: the address space, the process status.
void WriteText(DumpFile& file, Directory& directory, uint32_t type, const char* text, std::size_t length) {
    file.Align(8);
    directory.Add(type, file.rva(), length);
    file.Write(text, length);
}

}  // namespace

void PrepareMinidumpWriter() {
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    processorCount.store(n > 0 ? static_cast<int>(n) : 0, std::memory_order_relaxed);
}

bool WriteMinidump(int fd, const DumpRequest& request) {
    if (request.context == nullptr) return false;
    procmaps::LoadMappings();
    procmaps::CollectModules();
    statusLength = ReadWholeFile("/proc/self/status", statusText, kStatusCapacity);

    DumpFile file(fd);
    Directory directory;
    // Header and directory are written last, over this space.
    file.Zeros(sizeof(Header) + kStreamCount * sizeof(DirectoryEntry));

    const ContextAmd64 context = WriteThreadData(file, request);
    WriteThreadList(file, directory);
    WriteThreadNames(file, directory);
    WriteMemoryList(file, directory);
    WriteException(file, directory, request, context);
    WriteModuleList(file, directory);
    WriteSystemInfo(file, directory);
    WriteMiscInfo(file, directory);
    WriteText(file, directory, kStreamLinuxMaps, procmaps::MapsText(), procmaps::MapsLength());
    WriteText(file, directory, kStreamLinuxProcStatus, statusText, statusLength);

    const Header header{kSignature, kVersion, directory.count(), sizeof(Header), 0, static_cast<uint32_t>(time(nullptr)), 0};
    file.WriteAt(0, &header, sizeof header);
    file.WriteAt(sizeof header, directory.entries(), kStreamCount * sizeof(DirectoryEntry));
    return file.ok();
}

}  // namespace ts
