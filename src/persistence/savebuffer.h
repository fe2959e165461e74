// The buffer a save is written into: exact capacity, with a guard word on
// either side so an overrun is caught after writing.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

namespace ts {

class SaveBuffer {
public:
    static constexpr uint32_t kGuard = 0xDEADBEEFu;

    explicit SaveBuffer(uint64_t capacity) : capacity_(capacity) {
        if (capacity_ == 0) return;
        block_ = std::make_unique<uint8_t[]>(capacity_ + 8);
        data_ = block_.get() + 4;
        std::memcpy(block_.get(), &kGuard, 4);
        std::memcpy(data_ + capacity_, &kGuard, 4);
    }

    uint32_t size() const { return static_cast<uint32_t>(capacity_); }
    uint8_t* data() { return data_; }
    bool GuardsIntact() const {
        if (capacity_ == 0) return true;
        uint32_t before, after;
        std::memcpy(&before, block_.get(), 4);
        std::memcpy(&after, data_ + capacity_, 4);
        return before == kGuard && after == kGuard;
    }

private:
    uint64_t capacity_;
    std::unique_ptr<uint8_t[]> block_;
    uint8_t* data_ = nullptr;
};

// Little-endian, unaligned writes at a running position.
class BinaryBufferWriter {
public:
    explicit BinaryBufferWriter(SaveBuffer& buffer) : buffer_(buffer) {}
    void WriteBytes(const void* source, uint64_t count) {
        std::memcpy(buffer_.data() + position_, source, count);
        position_ += count;
    }
    template <class T>
    void Write(const T& value) {
        WriteBytes(&value, sizeof(T));
    }
    uint64_t position() const { return position_; }

private:
    SaveBuffer& buffer_;
    uint64_t position_ = 0;
};

}  // namespace ts
