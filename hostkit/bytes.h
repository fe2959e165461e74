// Little-endian byte helpers shared by the payload and save writers and readers.
// The library runs on little-endian hosts only, so a plain copy is the wire order.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

namespace tshost {

static_assert(std::endian::native == std::endian::little, "the wire format is little-endian");

// Appends the object representation of a trivially copyable value (a scalar or
// a packed struct of the public header).
template <class T>
void Append(std::string& out, const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    out.append(reinterpret_cast<const char*>(&value), sizeof(T));
}

inline void AppendString(std::string& out, std::string_view text) {
    Append(out, static_cast<int32_t>(text.size()));
    out.append(text);
}

// Reads a value at `offset` of `data` without alignment requirements; the
// caller has checked the range.
template <class T>
T Load(const void* data, size_t offset) {
    static_assert(std::is_trivially_copyable_v<T>);
    T value;
    std::memcpy(&value, static_cast<const uint8_t*>(data) + offset, sizeof(T));
    return value;
}

}  // namespace tshost
