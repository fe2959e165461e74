// Small helpers for code that runs inside a signal handler: system calls and
// plain loops only, no allocation, no stdio, no locks.
#pragma once

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <ctime>

namespace ts::signalsafe {

inline pid_t CurrentThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

inline int64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Reads up to `capacity` bytes of a file. Returns the length read (0 when it cannot be opened).
inline std::size_t ReadWholeFile(const char* path, char* out, std::size_t capacity) {
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

inline uint64_t ParseHex(const char*& p, const char* end) {
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

inline uint64_t ParseDecimal(const char*& p, const char* end) {
    uint64_t value = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) value = value * 10 + static_cast<uint64_t>(*p - '0');
    return value;
}

inline void SkipSpaces(const char*& p, const char* end) {
    while (p < end && *p == ' ') ++p;
}

inline void SkipField(const char*& p, const char* end) {
    while (p < end && *p != ' ' && *p != '\n') ++p;
    SkipSpaces(p, end);
}

inline std::size_t Length(const char* text) {
    std::size_t n = 0;
    while (text[n] != '\0') ++n;
    return n;
}

// Appends `text`, keeping `out` NUL-terminated within `capacity`.
inline void Append(char* out, std::size_t capacity, std::size_t& length, const char* text) {
    for (std::size_t i = 0; text[i] != '\0' && length + 1 < capacity; ++i) out[length++] = text[i];
    out[length] = '\0';
}

inline void AppendDecimal(char* out, std::size_t capacity, std::size_t& length, uint64_t value) {
    char digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0 && length + 1 < capacity) out[length++] = digits[--count];
    out[length] = '\0';
}

}  // namespace ts::signalsafe
