#include "memoryblock.h"

#include "exceptions.h"

namespace fw {

MemoryBlock::MemoryBlock(int32_t size) : bytes_(size > 0 ? static_cast<size_t>(size) : 0) {}

int32_t MemoryBlock::Byte(int32_t offset) const {
    if (offset < 0 || offset >= Size())
        throw OutOfBoundsException("MemoryBlock offset out of bounds");
    return bytes_[static_cast<size_t>(offset)];
}

void MemoryBlock::SetByte(int32_t offset, int32_t value) {
    if (offset < 0 || offset >= Size())
        throw OutOfBoundsException("MemoryBlock offset out of bounds");
    bytes_[static_cast<size_t>(offset)] = static_cast<uint8_t>(value);
}

std::string MemoryBlock::StringValue(int32_t offset, int32_t length) const {
    if (offset < 0 || length < 0 || offset + static_cast<int64_t>(length) > Size())
        throw OutOfBoundsException("MemoryBlock range out of bounds");
    return std::string(bytes_.begin() + offset, bytes_.begin() + offset + length);
}

}  // namespace fw
