#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

// A block of bytes with bounds-checked access.
class MemoryBlock {
public:
    MemoryBlock() = default;
    explicit MemoryBlock(int32_t size);
    MemoryBlock(const uint8_t* data, size_t size) : bytes_(data, data + size) {}
    explicit MemoryBlock(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    int32_t Size() const { return static_cast<int32_t>(bytes_.size()); }
    // The byte at a 0-based offset as 0 to 255; throws OutOfBoundsException outside the block.
    int32_t Byte(int32_t offset) const;
    void SetByte(int32_t offset, int32_t value);
    std::string StringValue(int32_t offset, int32_t length) const;
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace fw
