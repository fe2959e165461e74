#include "diagnostics/stackwalk.h"

#define UNW_LOCAL_ONLY
#include <libunwind.h>

#include <elfutils/libdwelf.h>
#include <elfutils/libdwfl.h>
#include <fcntl.h>
#include <libelf.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace ts {
namespace {

constexpr int kMaxFrames = 128;

// True when the file open at `fd` carries the build id of `module`, or when
// the module has none to compare.
bool MatchesBuildId(Dwfl_Module* module, int fd) {
    const unsigned char* wanted = nullptr;
    GElf_Addr where = 0;
    const int wantedSize = dwfl_module_build_id(module, &wanted, &where);
    if (wantedSize <= 0) return true;
    Elf* elf = elf_begin(fd, ELF_C_READ_MMAP, nullptr);
    if (elf == nullptr) return false;
    const void* found = nullptr;
    const ssize_t foundSize = dwelf_elf_gnu_build_id(elf, &found);
    const bool same = foundSize == wantedSize && std::memcmp(found, wanted, static_cast<std::size_t>(wantedSize)) == 0;
    elf_end(elf);
    return same;
}

// Separate debug information from local files only: by build id under the
// system's debug directory, then by the file's debug link beside it, in its
// ".debug" directory or under the debug directory. Never from a debuginfod
// server, whatever the environment names: a game must not reach the network,
// nor load an HTTP client, to print a stack.
int FindLocalDebuginfo(Dwfl_Module* module, void** userdata, const char* moduleName, Dwarf_Addr base,
                       const char* fileName, const char* debuglinkFile, GElf_Word debuglinkCrc, char** debuginfoFileName) {
    const int byBuildId = dwfl_build_id_find_debuginfo(module, userdata, moduleName, base, fileName, debuglinkFile,
                                                       debuglinkCrc, debuginfoFileName);
    if (byBuildId >= 0 || debuglinkFile == nullptr || *debuglinkFile == '\0') return byBuildId;
    std::string directory;
    if (fileName != nullptr) {
        const char* slash = std::strrchr(fileName, '/');
        if (slash != nullptr) directory.assign(fileName, static_cast<std::size_t>(slash - fileName));
    }
    const std::string candidates[] = {
        debuglinkFile[0] == '/' ? std::string(debuglinkFile) : std::string(),
        directory + "/" + debuglinkFile,
        directory + "/.debug/" + debuglinkFile,
        "/usr/lib/debug" + directory + "/" + debuglinkFile,
    };
    for (const std::string& candidate : candidates) {
        if (candidate.empty() || (fileName != nullptr && candidate == fileName)) continue;
        const int fd = open(candidate.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        if (MatchesBuildId(module, fd)) {
            *debuginfoFileName = strdup(candidate.c_str());
            return fd;
        }
        close(fd);
    }
    return -1;
}

struct SymbolHandler {
    std::mutex lock;
    Dwfl* dwfl = nullptr;
    char* debuginfoPath = nullptr;
    Dwfl_Callbacks callbacks{};

    // Reports the modules currently mapped into the process.
    bool Load() {
        if (dwfl != nullptr) dwfl_end(dwfl);
        callbacks.find_elf = dwfl_linux_proc_find_elf;
        callbacks.find_debuginfo = FindLocalDebuginfo;
        callbacks.debuginfo_path = &debuginfoPath;
        dwfl = dwfl_begin(&callbacks);
        if (dwfl == nullptr) return false;
        dwfl_report_begin(dwfl);
        if (dwfl_linux_proc_report(dwfl, getpid()) != 0 || dwfl_report_end(dwfl, nullptr, nullptr) != 0) {
            dwfl_end(dwfl);
            dwfl = nullptr;
            return false;
        }
        return true;
    }

    void Unload() {
        if (dwfl != nullptr) dwfl_end(dwfl);
        dwfl = nullptr;
    }

    Dwfl_Module* ModuleOf(std::uintptr_t address) {
        if (dwfl == nullptr && !Load()) return nullptr;
        Dwfl_Module* module = dwfl_addrmodule(dwfl, address);
        if (module == nullptr && Load()) module = dwfl_addrmodule(dwfl, address);
        return module;
    }

    // Appends "file:line" for `address` to `out`; false when there is none.
    bool Describe(std::uintptr_t address, std::string& out) {
        Dwfl_Module* module = ModuleOf(address);
        if (module == nullptr) return false;
        Dwfl_Line* line = dwfl_module_getsrc(module, address);
        if (line == nullptr) return false;
        int lineNumber = 0;
        const char* file = dwfl_lineinfo(line, nullptr, &lineNumber, nullptr, nullptr, nullptr);
        if (file == nullptr || *file == '\0') return false;
        out += file;
        out += ':';
        out += std::to_string(lineNumber);
        return true;
    }
};

SymbolHandler& Handler() {
    static SymbolHandler handler;
    return handler;
}

// Return addresses point after the call; look up the call instruction itself.
std::uintptr_t LookupAddress(unw_word_t ip, bool signalFrame, bool first) {
    return (first || signalFrame || ip == 0) ? ip : ip - 1;
}

std::string TextOf(const std::uintptr_t* addresses, int count) {
    SymbolHandler& handler = Handler();
    std::lock_guard<std::mutex> guard(handler.lock);
    std::string text;
    for (int i = 0; i < count; ++i) {
        std::string line;
        if (!handler.Describe(addresses[i], line)) continue;
        if (!text.empty()) text += '\n';
        text += line;
    }
    return text;
}

int Walk(unw_cursor_t& cursor, std::uintptr_t* addresses, int skip) {
    int count = 0;
    bool first = true;
    do {
        unw_word_t ip = 0;
        if (unw_get_reg(&cursor, UNW_REG_IP, &ip) < 0 || ip == 0) break;
        const bool signalFrame = unw_is_signal_frame(&cursor) > 0;
        if (skip > 0) {
            --skip;
        } else {
            addresses[count++] = LookupAddress(ip, signalFrame, first);
        }
        first = false;
    } while (count < kMaxFrames && unw_step(&cursor) > 0);
    return count;
}

// The unwinder sets up its tables on first use, without a barrier for the
// threads that use it next: that first use is made once, under call_once.
void InitialiseUnwinder() {
    static std::once_flag once;
    std::call_once(once, [] {
        unw_context_t context;
        unw_cursor_t cursor;
        if (unw_getcontext(&context) == 0) unw_init_local(&cursor, &context);
    });
}

}  // namespace

void SymbolHandlerInitialize() {
    InitialiseUnwinder();
    SymbolHandler& handler = Handler();
    std::lock_guard<std::mutex> guard(handler.lock);
    handler.Unload();  // modules are reported again on first use
}

void SymbolHandlerCleanup() {
    SymbolHandler& handler = Handler();
    std::lock_guard<std::mutex> guard(handler.lock);
    handler.Unload();
}

std::string CallStackText(int skipFrames) {
    InitialiseUnwinder();
    unw_context_t context;
    unw_cursor_t cursor;
    if (unw_getcontext(&context) != 0 || unw_init_local(&cursor, &context) != 0) return {};
    std::uintptr_t addresses[kMaxFrames];
    // Frame 0 is this function itself.
    const int count = Walk(cursor, addresses, skipFrames + 1);
    return TextOf(addresses, count);
}

std::size_t CallStackTextFromContext(ucontext_t* context, char* out, std::size_t capacity) {
    if (capacity == 0) return 0;
    out[0] = '\0';
    unw_cursor_t cursor;
    if (unw_init_local2(&cursor, reinterpret_cast<unw_context_t*>(context), UNW_INIT_SIGNAL_FRAME) != 0)
        return 0;
    std::uintptr_t addresses[kMaxFrames];
    const int count = Walk(cursor, addresses, 0);
    const std::string text = TextOf(addresses, count);
    const std::size_t length = text.size() < capacity - 1 ? text.size() : capacity - 1;
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
    return length;
}

std::string SourceLineOf(std::uintptr_t address) {
    SymbolHandler& handler = Handler();
    std::lock_guard<std::mutex> guard(handler.lock);
    std::string line;
    handler.Describe(address, line);
    return line;
}

}  // namespace ts
