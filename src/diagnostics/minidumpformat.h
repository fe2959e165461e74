// The minidump container's records as the format lays them out (x86-64):
// packed to 4 bytes, every size and the offsets debuggers rely on checked.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ts::minidump {

constexpr uint32_t kSignature = 0x504d444d;  // "MDMP"
constexpr uint32_t kVersion = 0xa793;
constexpr uint16_t kArchitectureAmd64 = 9;
constexpr uint32_t kPlatformLinux = 0x8201;
constexpr uint32_t kCvSignatureElfBuildId = 0x4270454c;  // "LEpB": a GNU build id follows
constexpr uint32_t kMiscProcessId = 0x1;
// Context flags: x86-64 context with control, integer, segment and floating-point registers.
constexpr uint32_t kContextAmd64 = 0x00100000;
constexpr uint32_t kContextFull = kContextAmd64 | 0x1 | 0x2 | 0x4 | 0x8;
constexpr uint32_t kContextControl = kContextAmd64 | 0x1;  // stack and instruction pointers only

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
struct ThreadNameRecord {
    uint32_t threadId;
    uint64_t nameRva;  // a 64-bit file offset, unlike every other record
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
static_assert(sizeof(ThreadNameRecord) == 12);

}  // namespace ts::minidump
