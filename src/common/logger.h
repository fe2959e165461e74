// Operational log lines: standard error (and an optional file sink).
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>

namespace ts {

class Logger {
public:
    // Writes the formatted line when `level` and `categories` pass the filters.
    void Log(int32_t level, uint32_t categories, const char* format, ...)
        __attribute__((format(printf, 4, 5)));

    // Optional sink; the library itself never sets one.
    void SetSink(std::FILE* file);

private:
    std::FILE* sink = nullptr;
    std::mutex lock;
    int32_t fileLevel = 0;
    int32_t consoleLevel = 0;
    char text[4096] = {};
    uint32_t categoryMask = 0xFFFFFFFFu;
};

// The process logger, or null while none is set (the host interface sets it
// from SIM_Initialize to SIM_Shutdown).
Logger* ProcessLogger();
void SetProcessLogger(Logger* logger);

}  // namespace ts

// A log line at level 0, category 1, when the process has a logger.
#define TS_LOG(...)                                                    \
    do {                                                               \
        if (::ts::Logger* tsLogger = ::ts::ProcessLogger())            \
            tsLogger->Log(0, 1, __VA_ARGS__);                          \
    } while (0)
