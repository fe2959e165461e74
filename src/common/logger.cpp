#include "common/logger.h"

#include <atomic>
#include <cstdarg>

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

namespace {
std::atomic<Logger*> gProcessLogger{nullptr};
}

Logger* ProcessLogger() { return gProcessLogger.load(std::memory_order_acquire); }

void SetProcessLogger(Logger* logger) { gProcessLogger.store(logger, std::memory_order_release); }

}  // namespace ts
