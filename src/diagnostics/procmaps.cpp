#include "diagnostics/procmaps.h"

#include <elf.h>
#include <sys/auxv.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstring>

#include "diagnostics/signalsafe.h"

namespace ts::procmaps {
namespace {

using namespace signalsafe;

constexpr std::size_t kMapsCapacity = 1 << 20;
constexpr std::size_t kMaxMappings = 16384;

char mapsText[kMapsCapacity];
std::size_t mapsLength;
Mapping mappings[kMaxMappings];
std::size_t mappingCount;
Module modules[kMaxModules];
std::size_t moduleCount;

bool SamePath(const Mapping& a, const char* path, uint32_t length) {
    return a.pathLength == length && std::memcmp(a.path, path, length) == 0;
}

// Reads the GNU build id of the ELF image mapped at `module.base` from memory.
void ReadBuildId(Module& module) {
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

}  // namespace

bool SafeRead(uint64_t address, void* out, std::size_t size) {
    iovec local{out, size};
    iovec remote{reinterpret_cast<void*>(address), size};
    const long got = syscall(SYS_process_vm_readv, getpid(), &local, 1UL, &remote, 1UL, 0UL);
    return got == static_cast<long>(size);
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

const char* MapsText() { return mapsText; }
std::size_t MapsLength() { return mapsLength; }

const Mapping* MappingAt(uint64_t address) {
    for (std::size_t i = 0; i < mappingCount; ++i)
        if (address >= mappings[i].start && address < mappings[i].end) return &mappings[i];
    return nullptr;
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
        Module module{};
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
            const Module main = modules[k];
            for (std::size_t m = k; m > 0; --m) modules[m] = modules[m - 1];
            modules[0] = main;
            break;
        }
    }
}

const Module* Modules() { return modules; }
std::size_t ModuleCount() { return moduleCount; }

}  // namespace ts::procmaps
