// Readers over host payloads. Every read is checked against the payload size:
// a read past the end fails, copies nothing and leaves the reader failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

namespace ts {

class BinaryBufferReader {
public:
    BinaryBufferReader(const void* data, int64_t size)
        : data_(static_cast<const uint8_t*>(data)),
          size_(data == nullptr || size < 0 ? 0 : static_cast<uint64_t>(size)) {}

    uint64_t position() const { return position_; }
    uint64_t size() const { return size_; }
    uint64_t remaining() const { return size_ - position_; }
    bool failed() const { return failed_; }
    const uint8_t* current() const { return data_ + position_; }

    bool ReadBytes(void* destination, uint64_t count) {
        if (failed_ || count > remaining()) return Fail();
        if (count != 0) std::memcpy(destination, data_ + position_, count);
        position_ += count;
        return true;
    }

    template <class T>
    bool Read(T& value) {
        static_assert(std::is_trivially_copyable_v<T>);
        return ReadBytes(&value, sizeof(T));
    }

    // An i32 length L followed by L bytes without terminator.
    bool ReadString(std::string& text) {
        int32_t length = 0;
        if (!Read(length)) return false;
        if (length < 0 || static_cast<uint64_t>(length) > remaining()) return Fail();
        text.assign(reinterpret_cast<const char*>(data_ + position_), static_cast<size_t>(length));
        position_ += static_cast<uint64_t>(length);
        return true;
    }

    bool Skip(uint64_t count) {
        if (failed_ || count > remaining()) return Fail();
        position_ += count;
        return true;
    }

private:
    bool Fail() {
        failed_ = true;
        return false;
    }

    uint64_t position_ = 0;
    const uint8_t* data_;
    uint64_t size_;
    bool failed_ = false;
};

}  // namespace ts
