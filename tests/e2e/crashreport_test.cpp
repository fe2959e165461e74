// Child host processes, seen from outside. Crash reports: a child host
// crashes on purpose (tests/programs/crash_host.cpp) in a directory of its
// own, and the test looks at what it left: the dump file, what its callback
// printed, how it ended, and what a debugger makes of the dump. Limits: a child
// host (tests/programs/limited_host.cpp) runs under an address-space limit and
// prints what the library answered; nothing may escape the C boundary, and a
// failed load leaves the previous world as it was.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/testio.h"

namespace tstest {
namespace {

namespace fs = std::filesystem;

// A fixed zone half an hour off the hour, without daylight saving: the dump's
// name must carry local time, not UTC.
constexpr char kChildZone[] = "TST-5:30";
constexpr int64_t kChildZoneOffset = 5 * 3600 + 30 * 60;

fs::path TestBinaryDir() { return fs::read_symlink("/proc/self/exe").parent_path(); }

struct ChildRun {
    int status = 0;
    std::string output;     // the child's standard output
    int trapStops = 0;      // SIGTRAP deliveries a tracer saw (traced runs only)
    std::vector<std::string> dumps;  // dump files left in the working directory
};

enum class Start { Plain, Traced, DeletedDirectory };

std::string LocalStamp(std::time_t utc) {
    const std::time_t shifted = utc + kChildZoneOffset;
    std::tm parts{};
    gmtime_r(&shifted, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H.%M.%S", &parts);
    return text;
}

// Runs crash_host in `dir` and waits (at most a minute) for it to end.
ChildRun RunCrashHost(const std::string& mode, const fs::path& dir, Start start = Start::Plain) {
    const std::string program = (TestBinaryDir() / "crash_host").string();
    // Inside the test's temporary directory (the parent of a directory that the child deletes).
    const fs::path outputDir = start == Start::DeletedDirectory ? dir.parent_path() : dir;
    const std::string outputPath = (outputDir / "host.out").string();
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || dup2(out, STDOUT_FILENO) < 0 || chdir(dir.c_str()) != 0) _exit(120);
        // A working directory that is gone: no file can be created in it.
        if (start == Start::DeletedDirectory && rmdir(dir.c_str()) != 0) _exit(121);
        setenv("TZ", kChildZone, 1);
        // Under AddressSanitizer: a leak check would need to trace the child, which a tracer already does.
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        if (start == Start::Traced && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(122);
        execl(program.c_str(), program.c_str(), mode.c_str(), static_cast<char*>(nullptr));
        _exit(123);
    }
    ChildRun run;
    if (pid < 0) {
        ADD_FAILURE() << "fork failed";
        return run;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool execStopSeen = false;
    for (;;) {
        int status = 0;
        const pid_t got = waitpid(pid, &status, WNOHANG);
        if (got == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                ADD_FAILURE() << "crash_host " << mode << " did not end within a minute";
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        if (got < 0) break;
        if (WIFSTOPPED(status)) {
            // Acting as the debugger: hand every signal on, as a debugger that continues does.
            int signal = WSTOPSIG(status);
            if (signal == SIGTRAP && !execStopSeen) {
                execStopSeen = true;  // the stop after exec, not a signal of the program
                signal = 0;
            } else if (signal == SIGTRAP) {
                ++run.trapStops;
            }
            ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(static_cast<intptr_t>(signal)));
            continue;
        }
        run.status = status;
        break;
    }
    run.output = ReadFile(outputPath);
    std::error_code ignored;
    fs::remove(outputPath, ignored);
    if (fs::exists(dir))
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().extension() == ".dmp") run.dumps.push_back(entry.path().filename().string());
    return run;
}

// The value after "key=" on its own line of the child's output.
std::string Field(const std::string& output, const std::string& key) {
    const std::regex line("(^|\n)" + key + "=([^\n]*)");
    std::smatch match;
    return std::regex_search(output, match, line) ? match[2].str() : std::string();
}

// The text between the child's "name<<" and ">>name" lines.
std::string Between(const std::string& output, const std::string& name) {
    const auto begin = output.find(name + "<<\n");
    const auto end = begin == std::string::npos ? begin : output.find("\n>>" + name, begin + name.size() + 2);
    if (end == std::string::npos) return {};
    return output.substr(begin + name.size() + 3, end - std::min(end, begin + name.size() + 3));
}

// The streams of the dump by type, after checking the header and that every
// stream lies inside the file ("" error when all is well).
struct DumpStreams {
    std::string file;
    std::map<uint32_t, std::string> streams;
    std::string error;
};

DumpStreams ReadDump(const fs::path& path) {
    DumpStreams result{ReadFile(path), {}, {}};
    const std::string& bytes = result.file;
    auto u32 = [&](std::size_t at) { return ValueAt<uint32_t>(bytes, at); };
    if (bytes.size() < 32 || bytes.compare(0, 4, "MDMP") != 0 || (u32(4) & 0xFFFF) != 0xa793) {
        result.error = "no MDMP header";
        return result;
    }
    const uint32_t count = u32(8), directory = u32(12);
    if (uint64_t{directory} + uint64_t{count} * 12 > bytes.size()) result.error = "directory outside the file";
    for (uint32_t i = 0; i < count && result.error.empty(); ++i) {
        const uint32_t type = u32(directory + i * 12), size = u32(directory + i * 12 + 4), rva = u32(directory + i * 12 + 8);
        if (uint64_t{rva} + size > bytes.size() || result.streams.count(type) != 0)
            result.error = "stream " + std::to_string(type) + " outside the file or twice";
        result.streams[type] = bytes.substr(rva, size);
    }
    return result;
}

std::string Utf16At(const std::string& file, uint64_t rva) {
    std::string text;
    const auto bytes = ValueAt<uint32_t>(file, rva);
    for (uint32_t i = 0; i + 1 < bytes; i += 2) text += static_cast<char>(ValueAt<uint16_t>(file, rva + 4 + i));
    return text;
}

// Opens the dump in lldb (batch mode, bounded in time), runs `commands` and returns its output.
std::string Lldb(const fs::path& dump, const std::string& commands) {
    std::string lldb;
    for (const char* name : {"lldb", "lldb-16", "lldb-15", "lldb-14"})
        if (lldb.empty() && std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0) lldb = name;
    if (lldb.empty()) {
        ADD_FAILURE() << "lldb not found: scripts/install-deps.sh installs it";
        return {};
    }
    return CommandOutput("timeout 180 " + lldb + " --batch -x -o 'target create --core \"" + dump.string() + "\"' " +
                         commands + " 2>&1");
}

// "tid name" lines that the host printed from /proc/self/task before the crash.
std::map<uint32_t, std::string> ListedThreads(const std::string& output) {
    std::map<uint32_t, std::string> threads;
    std::istringstream lines(Between(output, "threads"));
    uint32_t tid;
    std::string name;
    while (lines >> tid >> name) threads[tid] = name;
    return threads;
}

// lldb's "thread backtrace all", one block of frames per thread id (from "thread list").
std::map<uint32_t, std::string> LldbBacktraces(const std::string& output) {
    std::map<int, uint32_t> tidOfIndex;
    std::map<uint32_t, std::string> frames;
    const std::regex listed(R"(thread #(\d+): tid = (\d+),)");
    for (std::sregex_iterator it(output.begin(), output.end(), listed), end; it != end; ++it)
        tidOfIndex[std::stoi((*it)[1])] = static_cast<uint32_t>(std::stoul((*it)[2]));
    std::istringstream lines(output);
    std::string line;
    const std::regex header(R"(^[* ] thread #(\d+)(,|$))");
    uint32_t current = 0;
    while (std::getline(lines, line)) {
        std::smatch match;
        if (std::regex_search(line, match, header)) current = tidOfIndex[std::stoi(match[1])];
        else if (current != 0 && line.find("frame #") != std::string::npos) frames[current] += line + "\n";
    }
    return frames;
}

class CrashReport : public ::testing::Test {
protected:
    void SetUp() override {
        if (kThreadSanitizer)
            GTEST_SKIP() << "ThreadSanitizer reports the stack walk's allocations inside the signal handler, "
                            "which the report accepts once the dump is written; the tsan preset runs the "
                            "threading tests only";
    }
};

void ExpectEndedBy(const ChildRun& run, int signal) {
    if (kAddressSanitizer && signal == SIGSEGV) {
        // The sanitizer's handler, installed before ours, receives the fault next and reports it.
        EXPECT_FALSE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status;
    } else {
        EXPECT_TRUE(WIFSIGNALED(run.status) && WTERMSIG(run.status) == signal)
            << "status " << run.status << ", output:\n" << run.output;
    }
    EXPECT_EQ(run.output.find("survived"), std::string::npos);
}

// The debug crash while a world runs: a dump named by build and local time, the
// host told its path and a stack through the crashing line, and a dump holding
// every thread with its name, registers and stack, which a debugger opens and
// unwinds: the sim thread through the library, the thread that blocks every
// signal from where it waits, and the crashing thread into the host's line (so
// the module list names the program and its build id).
TEST_F(CrashReport, TheDumpOfARunningWorldHoldsEveryThreadAndOpensInADebugger) {
    TempDir dir;
    const std::time_t before = std::time(nullptr);
    const ChildRun run = RunCrashHost("world", dir.path);
    const std::time_t after = std::time(nullptr);
    ExpectEndedBy(run, SIGTRAP);
    ASSERT_EQ(run.dumps.size(), 1u) << run.output;
    const std::string& name = run.dumps[0];
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(name, parts, std::regex(R"(Tessel_CRASH_release_420700_(\d{8}-\d\d\.\d\d\.\d\d)\.dmp)")))
        << name;
    EXPECT_GE(parts[1].str(), LocalStamp(before));
    EXPECT_LE(parts[1].str(), LocalStamp(after));
    EXPECT_EQ(Field(run.output, "dump"), name);
    const std::string line = Field(run.output, "crash-line");
    ASSERT_FALSE(line.empty());
    const std::string stack = Between(run.output, "stack");
    EXPECT_NE(stack.find("crash_host.cpp:" + line + "\n"), std::string::npos) << stack;
    EXPECT_TRUE(std::regex_match(stack, std::regex(R"(([^\n:]+:\d+\n)*[^\n:]+:\d+)"))) << stack;

    // The host's thread, its thread that blocks every signal, the sim thread and the pool's worker.
    const std::map<uint32_t, std::string> listed = ListedThreads(run.output);
    const auto mainThread = static_cast<uint32_t>(std::stoul("0" + Field(run.output, "main-thread")));
    const auto deafThread = static_cast<uint32_t>(std::stoul("0" + Field(run.output, "deaf-thread")));
    uint32_t simThread = 0, worker = 0;
    for (const auto& [tid, threadName] : listed) {
        if (threadName == "SimThread") simThread = tid;
        if (threadName == "SimWorker") worker = tid;
    }
    ASSERT_TRUE(listed.count(mainThread) == 1 && listed.count(deafThread) == 1 && simThread != 0 && worker != 0)
        << run.output;

    DumpStreams dump = ReadDump(dir.path / name);
    ASSERT_EQ(dump.error, "");
    const std::string& file = dump.file;
    const std::string& list = dump.streams[3];
    const uint32_t count = ValueAt<uint32_t>(list, 0);
    ASSERT_EQ(list.size(), 4 + std::size_t{count} * 48);
    EXPECT_EQ(ValueAt<uint32_t>(list, 4), mainThread);  // the crashing thread first
    EXPECT_EQ(ValueAt<uint32_t>(dump.streams[6], 0), mainThread);
    for (uint32_t i = 0; i < count; ++i) {
        const std::size_t record = 4 + std::size_t{i} * 48;
        const uint32_t tid = ValueAt<uint32_t>(list, record);
        // The x86-64 context, with a stack pointer inside the thread's stack memory.
        const auto stackStart = ValueAt<uint64_t>(list, record + 24);
        const uint32_t stackSize = ValueAt<uint32_t>(list, record + 32);
        const uint32_t contextRva = ValueAt<uint32_t>(list, record + 44);
        ASSERT_EQ(ValueAt<uint32_t>(list, record + 40), 1232u) << tid;
        const auto rsp = ValueAt<uint64_t>(file, contextRva + 0x98);
        EXPECT_NE(ValueAt<uint64_t>(file, contextRva + 0xf8), 0u) << tid;  // rip
        EXPECT_LE(uint64_t{ValueAt<uint32_t>(list, record + 36)} + stackSize, file.size()) << tid;
        EXPECT_TRUE(stackSize > 0 && rsp >= stackStart && rsp < stackStart + stackSize) << tid;
    }
    // The same threads as the kernel listed before the crash, under the same names, none twice.
    const std::string& names = dump.streams[24];
    ASSERT_EQ(ValueAt<uint32_t>(names, 0), count);
    std::map<uint32_t, std::string> dumped;
    for (uint32_t i = 0; i < count; ++i)
        dumped[ValueAt<uint32_t>(names, 4 + i * 12)] = Utf16At(file, ValueAt<uint64_t>(names, 4 + i * 12 + 4));
    EXPECT_EQ(dumped, listed);

    // On through the host's code where frames need no frame pointer (the deaf
    // thread's saved frame pointer is not known; the sanitizer's wrappers need it).
    const std::string lldb = Lldb(dir.path / name, "-o 'thread list' -o 'thread backtrace all'");
    EXPECT_NE(lldb.find("stop reason = signal SIGTRAP"), std::string::npos) << lldb;
    std::map<uint32_t, std::string> backtraces = LldbBacktraces(lldb);
    for (const auto& [tid, threadName] : listed) EXPECT_EQ(backtraces.count(tid), 1u) << tid << " " << threadName << "\n" << lldb;
    const std::string library = fs::path(TS_LIBRARY_PATH).filename().string() + "`";
    EXPECT_NE(backtraces[mainThread].find(library), std::string::npos) << lldb;
    EXPECT_TRUE(std::regex_search(backtraces[mainThread], std::regex("crash_host`main[ (].*crash_host.cpp:" + line)))
        << lldb;
    EXPECT_NE(backtraces[simThread].find(library + "ts::"), std::string::npos) << lldb;
    EXPECT_NE(backtraces[deafThread].find("read"), std::string::npos) << lldb;
    if (!kAddressSanitizer) {
        EXPECT_NE(backtraces[deafThread].find("crash_host`"), std::string::npos) << lldb;
    }
}

// A real fault, and the report's exceptions: how the process ends, how many
// dumps and host reports it leaves, and how often a tracer sees the trap.
TEST_F(CrashReport, AFaultAndTheExceptionalReports) {
    const struct {
        const char* name;
        const char* mode;
        Start start;
        int signal;
        std::size_t dumps;
        std::size_t reports;  // "code=" lines the host callback printed
        int trapStops;
    } cases[] = {
        {"a real fault is reported with a stack through its line", "segv", Start::Plain, SIGSEGV, 1, 1, 0},
        {"without a host callback the dump is still written", "trap-quiet", Start::Plain, SIGTRAP, 1, 0, 0},
        {"a fault inside the host callback is no second crash", "callback-faults", Start::Plain, SIGTRAP, 1, 1, 0},
        // The main thread traps while the other thread's callback runs.
        {"a second thread crashing during the report leaves it alone", "two-threads", Start::Plain, SIGTRAP, 1, 1, 0},
        // Once from the breakpoint, once more when the handler hands the signal on.
        {"under a debugger nothing is written", "trap", Start::Traced, SIGTRAP, 0, 0, 2},
        {"when no dump can be created the host is not called", "trap", Start::DeletedDirectory, SIGTRAP, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const fs::path gone = dir.path / "gone";
        fs::create_directory(gone);
        const ChildRun run = RunCrashHost(c.mode, c.start == Start::DeletedDirectory ? gone : dir.path, c.start);
        ExpectEndedBy(run, c.signal);
        const std::string line = Field(run.output, "crash-line");
        EXPECT_FALSE(line.empty()) << run.output;
        std::size_t reports = 0;
        for (auto at = run.output.find("code="); at != std::string::npos; at = run.output.find("code=", at + 1)) ++reports;
        EXPECT_EQ(reports, c.reports) << run.output;
        if (reports > 0) {
            EXPECT_EQ(Field(run.output, "code"), "0");
        }
        if (c.signal == SIGSEGV) {
            EXPECT_NE(Between(run.output, "stack").find("crash_host.cpp:" + line + "\n"), std::string::npos) << run.output;
        }
        ASSERT_EQ(run.dumps.size(), c.dumps) << run.output;
        for (const std::string& name : run.dumps) {
            const DumpStreams dump = ReadDump(dir.path / name);
            EXPECT_EQ(dump.error, "");
            EXPECT_EQ(ValueAt<uint32_t>(dump.streams.at(6), 8), static_cast<uint32_t>(c.signal));  // exception code
        }
        EXPECT_EQ(run.trapStops, c.trapStops);
    }
}

// --- limits ---------------------------------------------------------------------

// A load or create without the memory for the new world, SIM_Initialize when
// no thread can be created (every message then answers 0), and a load whose
// sim thread cannot start: each refused with a report, the previous world kept.
TEST(Limits, OutOfMemoryAndThreadsThatCannotBeCreated) {
    if (kAddressSanitizer || kThreadSanitizer)
        GTEST_SKIP() << "address-space limits do not combine with the sanitizers, which reserve far more";
    const std::map<std::string, std::string> oldWorldKept = {
        {"small", "1"}, {"result", "0"}, {"reported", "1"}, {"old-world-runs", "1"}, {"old-world-saves", "1"}};
    const std::pair<const char*, std::map<std::string, std::string>> cases[] = {
        {"load", oldWorldKept},
        {"create", oldWorldKept},
        {"init", {{"reported", "1"}, {"table", "0"}}},
        {"start", {{"created", "48"}, {"result", "0"}, {"reported", "1"}, {"exchange", "0"}, {"old-world-saves", "1"}}},
    };
    for (const auto& [mode, expected] : cases) {
        SCOPED_TRACE(mode);
        int status = -1;
        const std::string output = CommandOutput((TestBinaryDir() / "limited_host").string() + " " + mode + " 2>&1", &status);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
        for (const auto& [name, value] : expected) EXPECT_EQ(Field(output, name), value) << name;
    }
}

}  // namespace
}  // namespace tstest
