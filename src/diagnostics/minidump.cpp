#include "diagnostics/minidump.h"

#include <cpuid.h>
#include <elf.h>
#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <ctime>

namespace ts {
namespace {

// ---------------------------------------------------------------------------
// The file format. Structures are packed to 4 bytes, as the format lays them
// out; every size is checked below.

constexpr uint32_t kSignature = 0x504d444d;  // "MDMP"
constexpr uint32_t kVersion = 0xa793;
constexpr uint16_t kArchitectureAmd64 = 9;
constexpr uint32_t kPlatformLinux = 0x8201;
constexpr uint32_t kCvSignatureElfBuildId = 0x4270454c;  // "LEpB": a GNU build id follows
constexpr uint32_t kMiscProcessId = 0x1;
// Context flags: x86-64 context with control, integer, segment and floating-point registers.
constexpr uint32_t kContextAmd64 = 0x00100000;
constexpr uint32_t kContextFull = kContextAmd64 | 0x1 | 0x2 | 0x4 | 0x8;

#pragma pack(push, 4)
struct LocationDescriptor {
    uint32_t dataSize;
    uint32_t rva;
};
struct MemoryDescriptor {
    uint64_t startOfMemoryRange;
    LocationDescriptor memory;
};
struct Header {
    uint32_t signature;
    uint32_t version;
    uint32_t numberOfStreams;
    uint32_t streamDirectoryRva;
    uint32_t checkSum;
    uint32_t timeDateStamp;
    uint64_t flags;
};
struct DirectoryEntry {
    uint32_t streamType;
    LocationDescriptor location;
};
struct ThreadRecord {
    uint32_t threadId;
    uint32_t suspendCount;
    uint32_t priorityClass;
    uint32_t priority;
    uint64_t teb;
    MemoryDescriptor stack;
    LocationDescriptor threadContext;
};
struct ModuleRecord {
    uint64_t baseOfImage;
    uint32_t sizeOfImage;
    uint32_t checkSum;
    uint32_t timeDateStamp;
    uint32_t moduleNameRva;
    uint32_t versionInfo[13];
    LocationDescriptor cvRecord;
    LocationDescriptor miscRecord;
    uint64_t reserved0;
    uint64_t reserved1;
};
struct ExceptionRecord {
    uint32_t exceptionCode;
    uint32_t exceptionFlags;
    uint64_t exceptionRecord;
    uint64_t exceptionAddress;
    uint32_t numberParameters;
    uint32_t unusedAlignment;
    uint64_t exceptionInformation[15];
};
struct ExceptionStream {
    uint32_t threadId;
    uint32_t alignment;
    ExceptionRecord exception;
    LocationDescriptor threadContext;
};
struct SystemInfo {
    uint16_t processorArchitecture;
    uint16_t processorLevel;
    uint16_t processorRevision;
    uint8_t numberOfProcessors;
    uint8_t productType;
    uint32_t majorVersion;
    uint32_t minorVersion;
    uint32_t buildNumber;
    uint32_t platformId;
    uint32_t csdVersionRva;
    uint16_t suiteMask;
    uint16_t reserved2;
    uint32_t vendorId[3];
    uint32_t versionInformation;
    uint32_t featureInformation;
    uint32_t amdExtendedCpuFeatures;
};
struct MiscInfo {
    uint32_t sizeOfInfo;
    uint32_t flags1;
    uint32_t processId;
    uint32_t processCreateTime;
    uint32_t processUserTime;
    uint32_t processKernelTime;
};
struct ContextAmd64 {
    uint64_t home[6];
    uint32_t contextFlags;
    uint32_t mxCsr;
    uint16_t segCs, segDs, segEs, segFs, segGs, segSs;
    uint32_t eFlags;
    uint64_t dr0, dr1, dr2, dr3, dr6, dr7;
    uint64_t rax, rcx, rdx, rbx, rsp, rbp, rsi, rdi;
    uint64_t r8, r9, r10, r11, r12, r13, r14, r15;
    uint64_t rip;
    uint8_t fltSave[512];  // the FXSAVE image, as the kernel saves it
    uint8_t vectorRegister[26 * 16];
    uint64_t vectorControl;
    uint64_t debugControl;
    uint64_t lastBranchToRip;
    uint64_t lastBranchFromRip;
    uint64_t lastExceptionToRip;
    uint64_t lastExceptionFromRip;
};
#pragma pack(pop)

static_assert(sizeof(LocationDescriptor) == 8);
static_assert(sizeof(MemoryDescriptor) == 16);
static_assert(sizeof(Header) == 32);
static_assert(sizeof(DirectoryEntry) == 12);
static_assert(sizeof(ThreadRecord) == 48);
static_assert(sizeof(ModuleRecord) == 108);
static_assert(sizeof(ExceptionRecord) == 152);
static_assert(sizeof(ExceptionStream) == 168);
static_assert(sizeof(SystemInfo) == 56);
static_assert(sizeof(MiscInfo) == 24);
static_assert(sizeof(ContextAmd64) == 1232);
static_assert(offsetof(ContextAmd64, contextFlags) == 0x30);
static_assert(offsetof(ContextAmd64, rax) == 0x78);
static_assert(offsetof(ContextAmd64, rip) == 0xf8);
static_assert(offsetof(ContextAmd64, fltSave) == 0x100);
static_assert(offsetof(ContextAmd64, vectorControl) == 0x4a0);

// ---------------------------------------------------------------------------
// Storage. All of it is static: the writer runs inside a signal handler.

constexpr std::size_t kMapsCapacity = 1 << 20;
constexpr std::size_t kStatusCapacity = 16 << 10;
constexpr std::size_t kMaxMappings = 16384;
constexpr std::size_t kMaxModules = 2048;
constexpr std::size_t kMaxBuildId = 64;
constexpr std::size_t kStackLimit = 512 << 10;  // bytes of stack kept above the stack pointer
constexpr std::size_t kRedZone = 128;           // below the stack pointer, used by leaf functions
constexpr std::size_t kCodeAround = 256;        // bytes of code kept on each side of the instruction pointer
constexpr std::size_t kStreamCount = 8;

struct Mapping {
    uint64_t start;
    uint64_t end;
    uint64_t offset;
    uint64_t inode;
    const char* path;  // into mapsText, not NUL-terminated
    uint32_t pathLength;
    bool readable;
    bool executable;
};

struct ModuleEntry {
    uint64_t base;
    uint64_t end;
    const char* path;
    uint32_t pathLength;
    uint8_t buildId[kMaxBuildId];
    uint32_t buildIdSize;
    uint32_t nameRva;
    uint32_t cvRva;
    uint32_t cvSize;
};

char mapsText[kMapsCapacity];
std::size_t mapsLength;
char statusText[kStatusCapacity];
std::size_t statusLength;
Mapping mappings[kMaxMappings];
std::size_t mappingCount;
ModuleEntry modules[kMaxModules];
std::size_t moduleCount;
char16_t wideText[8192];
char writeBuffer[64 << 10];
const uint8_t zeroPage[4096] = {};
std::atomic<int> processorCount{0};

// ---------------------------------------------------------------------------
// Small helpers that are safe in a signal handler.

std::size_t ReadWholeFile(const char* path, char* out, std::size_t capacity) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    std::size_t length = 0;
    while (length < capacity) {
        const ssize_t got = read(fd, out + length, capacity - length);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        length += static_cast<std::size_t>(got);
    }
    close(fd);
    return length;
}

// Copies memory of this process without touching it directly: an unmapped
// address fails the call instead of raising a signal.
bool SafeRead(uint64_t address, void* out, std::size_t size) {
    iovec local{out, size};
    iovec remote{reinterpret_cast<void*>(address), size};
    const long got = syscall(SYS_process_vm_readv, getpid(), &local, 1UL, &remote, 1UL, 0UL);
    return got == static_cast<long>(size);
}

uint64_t ParseHex(const char*& p, const char* end) {
    uint64_t value = 0;
    for (; p < end; ++p) {
        const char c = *p;
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else break;
        value = value * 16 + static_cast<uint64_t>(digit);
    }
    return value;
}

uint64_t ParseDecimal(const char*& p, const char* end) {
    uint64_t value = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) value = value * 10 + static_cast<uint64_t>(*p - '0');
    return value;
}

void SkipSpaces(const char*& p, const char* end) {
    while (p < end && *p == ' ') ++p;
}

void SkipField(const char*& p, const char* end) {
    while (p < end && *p != ' ' && *p != '\n') ++p;
    SkipSpaces(p, end);
}

// Parses /proc/self/maps: "start-end perms offset dev inode   path".
void LoadMappings() {
    mapsLength = ReadWholeFile("/proc/self/maps", mapsText, kMapsCapacity);
    mappingCount = 0;
    const char* p = mapsText;
    const char* const end = mapsText + mapsLength;
    while (p < end && mappingCount < kMaxMappings) {
        const char* lineEnd = p;
        while (lineEnd < end && *lineEnd != '\n') ++lineEnd;
        if (lineEnd == end) break;  // a line cut by the buffer's end
        Mapping m{};
        m.start = ParseHex(p, lineEnd);
        if (p < lineEnd && *p == '-') ++p;
        m.end = ParseHex(p, lineEnd);
        SkipSpaces(p, lineEnd);
        if (lineEnd - p >= 4) {
            m.readable = p[0] == 'r';
            m.executable = p[2] == 'x';
        }
        SkipField(p, lineEnd);
        m.offset = ParseHex(p, lineEnd);
        SkipSpaces(p, lineEnd);
        SkipField(p, lineEnd);  // device
        m.inode = ParseDecimal(p, lineEnd);
        SkipSpaces(p, lineEnd);
        m.path = p;
        m.pathLength = static_cast<uint32_t>(lineEnd - p);
        if (m.end > m.start) mappings[mappingCount++] = m;
        p = lineEnd + 1;
    }
}

const Mapping* MappingAt(uint64_t address) {
    for (std::size_t i = 0; i < mappingCount; ++i)
        if (address >= mappings[i].start && address < mappings[i].end) return &mappings[i];
    return nullptr;
}

bool SamePath(const Mapping& a, const char* path, uint32_t length) {
    return a.pathLength == length && std::memcmp(a.path, path, length) == 0;
}

// Reads the GNU build id of the ELF image mapped at `module.base` from memory.
void ReadBuildId(ModuleEntry& module) {
    module.buildIdSize = 0;
    Elf64_Ehdr header;
    if (!SafeRead(module.base, &header, sizeof header)) return;
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64) return;
    if (header.e_phentsize != sizeof(Elf64_Phdr) || header.e_phnum == 0 || header.e_phnum > 64) return;
    Elf64_Phdr headers[64];
    if (!SafeRead(module.base + header.e_phoff, headers, header.e_phnum * sizeof(Elf64_Phdr))) return;
    // The mapping at file offset 0 is the first loadable segment, page-aligned.
    uint64_t firstLoad = UINT64_MAX;
    for (int i = 0; i < header.e_phnum; ++i)
        if (headers[i].p_type == PT_LOAD && headers[i].p_vaddr < firstLoad) firstLoad = headers[i].p_vaddr;
    if (firstLoad == UINT64_MAX) return;
    const uint64_t bias = module.base - (firstLoad & ~uint64_t{4095});
    for (int i = 0; i < header.e_phnum; ++i) {
        const Elf64_Phdr& ph = headers[i];
        if (ph.p_type != PT_NOTE) continue;
        uint8_t notes[4096];
        const std::size_t size = ph.p_filesz < sizeof notes ? ph.p_filesz : sizeof notes;
        if (!SafeRead(bias + ph.p_vaddr, notes, size)) continue;
        const std::size_t align = ph.p_align == 8 ? 8 : 4;
        std::size_t at = 0;
        while (at + sizeof(Elf64_Nhdr) <= size) {
            Elf64_Nhdr note;
            std::memcpy(&note, notes + at, sizeof note);
            const std::size_t nameAt = at + sizeof note;
            const std::size_t descAt = nameAt + ((note.n_namesz + align - 1) & ~(align - 1));
            const std::size_t next = descAt + ((note.n_descsz + align - 1) & ~(align - 1));
            if (descAt + note.n_descsz > size) break;
            if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 && std::memcmp(notes + nameAt, "GNU", 4) == 0 &&
                note.n_descsz > 0 && note.n_descsz <= kMaxBuildId) {
                std::memcpy(module.buildId, notes + descAt, note.n_descsz);
                module.buildIdSize = note.n_descsz;
                return;
            }
            at = next;
        }
    }
}

// A module is a file mapped from offset 0 together with the following
// mappings of the same file; only files with executable code count.
void CollectModules() {
    moduleCount = 0;
    const uint64_t mainProgramHeaders = getauxval(AT_PHDR);
    std::size_t i = 0;
    while (i < mappingCount && moduleCount < kMaxModules) {
        const Mapping& first = mappings[i];
        if (first.offset != 0 || first.inode == 0 || first.pathLength == 0 || first.path[0] != '/' ||
            (first.pathLength >= 5 && std::memcmp(first.path, "/dev/", 5) == 0)) {
            ++i;
            continue;
        }
        ModuleEntry module{};
        module.base = first.start;
        module.end = first.end;
        module.path = first.path;
        module.pathLength = first.pathLength;
        bool executable = first.executable;
        std::size_t j = i + 1;
        while (j < mappingCount && mappings[j].inode == first.inode && SamePath(mappings[j], first.path, first.pathLength) &&
               mappings[j].offset != 0) {
            module.end = mappings[j].end;
            executable = executable || mappings[j].executable;
            ++j;
        }
        i = j;
        if (!executable) continue;
        if (first.readable) ReadBuildId(module);
        modules[moduleCount++] = module;
    }
    // The main program goes first: debuggers take the first module as the executable.
    for (std::size_t k = 1; k < moduleCount; ++k) {
        if (mainProgramHeaders >= modules[k].base && mainProgramHeaders < modules[k].end) {
            const ModuleEntry main = modules[k];
            for (std::size_t m = k; m > 0; --m) modules[m] = modules[m - 1];
            modules[0] = main;
            break;
        }
    }
}

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

std::size_t Length(const char* text) {
    std::size_t n = 0;
    while (text[n] != '\0') ++n;
    return n;
}

void Append(char* out, std::size_t capacity, std::size_t& length, const char* text) {
    for (std::size_t i = 0; text[i] != '\0' && length + 1 < capacity; ++i) out[length++] = text[i];
    out[length] = '\0';
}

ContextAmd64 ContextOf(const ucontext_t& uc) {
    ContextAmd64 c{};
    const greg_t* g = uc.uc_mcontext.gregs;
    c.contextFlags = kContextFull;
    c.rax = static_cast<uint64_t>(g[REG_RAX]);
    c.rcx = static_cast<uint64_t>(g[REG_RCX]);
    c.rdx = static_cast<uint64_t>(g[REG_RDX]);
    c.rbx = static_cast<uint64_t>(g[REG_RBX]);
    c.rsp = static_cast<uint64_t>(g[REG_RSP]);
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
    c.rip = static_cast<uint64_t>(g[REG_RIP]);
    c.eFlags = static_cast<uint32_t>(g[REG_EFL]);
    // cs, gs, fs and ss packed in 16-bit fields.
    const auto segments = static_cast<uint64_t>(g[REG_CSGSFS]);
    c.segCs = static_cast<uint16_t>(segments);
    c.segGs = static_cast<uint16_t>(segments >> 16);
    c.segFs = static_cast<uint16_t>(segments >> 32);
    c.segSs = static_cast<uint16_t>(segments >> 48);
    if (uc.uc_mcontext.fpregs != nullptr) {
        static_assert(sizeof(*uc.uc_mcontext.fpregs) == sizeof c.fltSave);
        std::memcpy(c.fltSave, uc.uc_mcontext.fpregs, sizeof c.fltSave);
        c.mxCsr = uc.uc_mcontext.fpregs->mxcsr;
    }
    return c;
}

struct Range {
    uint64_t start = 0;
    uint64_t size = 0;
};

// The stack from just below the stack pointer up, within its mapping.
Range StackRange(uint64_t sp) {
    const Mapping* m = MappingAt(sp);
    if (m == nullptr || !m->readable) return {};
    uint64_t start = (sp - kRedZone) & ~uint64_t{15};
    if (start < m->start) start = m->start;
    uint64_t end = m->end;
    if (end - start > kStackLimit) end = start + kStackLimit;
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

}  // namespace

void PrepareMinidumpWriter() {
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    processorCount.store(n > 0 ? static_cast<int>(n) : 0, std::memory_order_relaxed);
}

bool WriteMinidump(int fd, const DumpRequest& request) {
    if (request.context == nullptr) return false;
    LoadMappings();
    CollectModules();
    statusLength = ReadWholeFile("/proc/self/status", statusText, kStatusCapacity);

    DumpFile file(fd);
    DirectoryEntry directory[kStreamCount]{};
    std::size_t streams = 0;
    auto addStream = [&](uint32_t type, uint32_t rva, uint32_t size) {
        directory[streams++] = DirectoryEntry{type, LocationDescriptor{size, rva}};
    };

    // Header and directory are written last, over this space.
    file.Zeros(sizeof(Header) + sizeof directory);

    // The crashing thread: registers, stack, and the code around the instruction pointer.
    const ContextAmd64 context = ContextOf(*request.context);
    file.Align(16);
    const LocationDescriptor contextLocation{sizeof context, file.rva()};
    file.Write(&context, sizeof context);

    MemoryDescriptor memory[2]{};
    uint32_t memoryCount = 0;
    for (const Range range : {StackRange(context.rsp), CodeRange(context.rip)}) {
        if (range.size == 0) continue;
        file.Align(16);
        memory[memoryCount++] = MemoryDescriptor{range.start, LocationDescriptor{static_cast<uint32_t>(range.size), file.rva()}};
        file.Memory(range.start, range.size);
    }

    ThreadRecord thread{};
    thread.threadId = static_cast<uint32_t>(request.threadId);
    const Range stack = StackRange(context.rsp);
    if (stack.size != 0) thread.stack = memory[0];
    thread.threadContext = contextLocation;
    file.Align(8);
    const uint32_t threadCount = 1;
    addStream(kStreamThreadList, file.rva(), sizeof threadCount + sizeof thread);
    file.Write(&threadCount, sizeof threadCount);
    file.Write(&thread, sizeof thread);

    file.Align(8);
    addStream(kStreamMemoryList, file.rva(), static_cast<uint32_t>(sizeof memoryCount + memoryCount * sizeof(MemoryDescriptor)));
    file.Write(&memoryCount, sizeof memoryCount);
    file.Write(memory, memoryCount * sizeof(MemoryDescriptor));

    // The exception: the signal, its code, and the faulting address.
    ExceptionStream exception{};
    exception.threadId = thread.threadId;
    exception.exception.exceptionCode = static_cast<uint32_t>(request.signal);
    if (request.info != nullptr) exception.exception.exceptionFlags = static_cast<uint32_t>(request.info->si_code);
    exception.exception.exceptionAddress = context.rip;
    if (request.info != nullptr && IsFaultSignal(request.signal) && request.info->si_code > 0)
        exception.exception.exceptionAddress = reinterpret_cast<uint64_t>(request.info->si_addr);
    exception.threadContext = contextLocation;
    file.Align(8);
    addStream(kStreamException, file.rva(), sizeof exception);
    file.Write(&exception, sizeof exception);

    // Modules: names and build ids first, then the list that points at them.
    for (std::size_t i = 0; i < moduleCount; ++i) {
        ModuleEntry& m = modules[i];
        m.nameRva = WriteString(file, m.path, m.pathLength);
        m.cvRva = 0;
        m.cvSize = 0;
        if (m.buildIdSize > 0) {
            file.Align(4);
            m.cvRva = file.rva();
            m.cvSize = static_cast<uint32_t>(sizeof kCvSignatureElfBuildId + m.buildIdSize);
            file.Write(&kCvSignatureElfBuildId, sizeof kCvSignatureElfBuildId);
            file.Write(m.buildId, m.buildIdSize);
        }
    }
    file.Align(8);
    const auto modules32 = static_cast<uint32_t>(moduleCount);
    addStream(kStreamModuleList, file.rva(), static_cast<uint32_t>(sizeof modules32 + moduleCount * sizeof(ModuleRecord)));
    file.Write(&modules32, sizeof modules32);
    for (std::size_t i = 0; i < moduleCount; ++i) {
        const ModuleEntry& m = modules[i];
        ModuleRecord record{};
        record.baseOfImage = m.base;
        record.sizeOfImage = static_cast<uint32_t>(m.end - m.base);
        record.moduleNameRva = m.nameRva;
        record.cvRecord = LocationDescriptor{m.cvSize, m.cvRva};
        file.Write(&record, sizeof record);
    }

    // The system: processor identification and kernel version.
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
    addStream(kStreamSystemInfo, file.rva(), sizeof system);
    file.Write(&system, sizeof system);

    MiscInfo misc{sizeof(MiscInfo), kMiscProcessId, static_cast<uint32_t>(getpid()), 0, 0, 0};
    file.Align(8);
    addStream(kStreamMiscInfo, file.rva(), sizeof misc);
    file.Write(&misc, sizeof misc);

    // The kernel's own description of the address space and of the process.
    file.Align(8);
    addStream(kStreamLinuxMaps, file.rva(), static_cast<uint32_t>(mapsLength));
    file.Write(mapsText, mapsLength);
    file.Align(8);
    addStream(kStreamLinuxProcStatus, file.rva(), static_cast<uint32_t>(statusLength));
    file.Write(statusText, statusLength);

    Header header{kSignature, kVersion, static_cast<uint32_t>(streams), sizeof(Header), 0,
                  static_cast<uint32_t>(time(nullptr)), 0};
    file.WriteAt(0, &header, sizeof header);
    file.WriteAt(sizeof header, directory, sizeof directory);
    return file.ok();
}

}  // namespace ts
