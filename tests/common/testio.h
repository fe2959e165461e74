// Reading back what the library, the host kit and the tools wrote: values out
// of bytes and the output of a command.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "hostkit/bytes.h"

namespace tstest {

// The value at `offset`, or zero when the bytes end first (a short or broken
// file then fails the checks instead of reading past its end).
template <class T>
T ValueAt(std::string_view bytes, std::size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return T{};
    return tshost::Load<T>(bytes.data(), offset);
}

// As ValueAt, for bytes that a test built and knows the layout of: reading
// past their end fails the test.
template <class T>
T At(std::string_view bytes, std::size_t offset) {
    const bool inside = offset <= bytes.size() && bytes.size() - offset >= sizeof(T);
    EXPECT_TRUE(inside) << "offset " << offset << " past the " << bytes.size() << " bytes";
    return inside ? tshost::Load<T>(bytes.data(), offset) : T{};
}

template <class T>
T At(const std::vector<uint8_t>& bytes, std::size_t offset) {
    return At<T>(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), offset);
}

// Standard output of a shell command ("" when it cannot start).
inline std::string CommandOutput(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
        pclose(pipe);
    }
    return output;
}

}  // namespace tstest
