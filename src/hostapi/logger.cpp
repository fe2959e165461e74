#include "hostapi/logger.h"

#include <cstdarg>

#include "hostapi/runtime.h"

namespace ts {

void Logger::Log(int32_t level, uint32_t categories, const char* format, ...) {
    if (level < fileLevel && level < consoleLevel) return;
    if ((categoryMask & categories) == 0) return;
    std::lock_guard<std::mutex> guard(lock);
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    text[sizeof text - 1] = '\0';
    if (level >= consoleLevel) {
        // There is no debugger output channel here; standard error serves both.
        std::fprintf(stderr, "%s\n", text);
        std::fflush(stderr);
    }
    if (level >= fileLevel && sink != nullptr) {
        std::fprintf(sink, "%s\n", text);
        std::fflush(sink);
    }
}

void Logger::SetSink(std::FILE* file) {
    std::lock_guard<std::mutex> guard(lock);
    sink = file;
}

Logger* ProcessLogger() { return GetRuntime().logger.get(); }

}  // namespace ts
