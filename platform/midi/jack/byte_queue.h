#pragma once

#include <jack/ringbuffer.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <span>

namespace mbs::jack {

// A lock-free queue of bytes between one writer thread and one reader thread, allocated once
// and locked in memory so that the audio thread can use either end. A record written with
// Write appears to the reader whole or not at all.
class ByteQueue {
public:
    explicit ByteQueue(std::size_t capacity) : ring_(jack_ringbuffer_create(capacity)) {
        if (!ring_) throw std::bad_alloc();
        jack_ringbuffer_mlock(ring_.get());
    }

    // Writes the pieces as one record; false, writing nothing, when there is not room.
    bool Write(std::initializer_list<std::span<const std::uint8_t>> pieces) {
        std::size_t total = 0;
        for (auto piece : pieces) total += piece.size();
        if (jack_ringbuffer_write_space(ring_.get()) < total) return false;
        jack_ringbuffer_data_t vec[2];
        jack_ringbuffer_get_write_vector(ring_.get(), vec);
        std::size_t segment = 0, offset = 0;
        for (auto piece : pieces) {
            const std::uint8_t* from = piece.data();
            std::size_t left = piece.size();
            while (left > 0) {
                if (offset == vec[segment].len) {
                    ++segment;
                    offset = 0;
                }
                std::size_t n = std::min(left, vec[segment].len - offset);
                std::memcpy(vec[segment].buf + offset, from, n);
                offset += n;
                from += n;
                left -= n;
            }
        }
        jack_ringbuffer_write_advance(ring_.get(), total);
        return true;
    }

    template <typename T>
    static std::span<const std::uint8_t> BytesOf(const T& value) {
        return {reinterpret_cast<const std::uint8_t*>(&value), sizeof value};
    }

    std::size_t Readable() const { return jack_ringbuffer_read_space(ring_.get()); }
    // Copies the next bytes without consuming them; false when fewer are there.
    bool Peek(void* to, std::size_t n) const {
        return jack_ringbuffer_peek(ring_.get(), static_cast<char*>(to), n) == n;
    }
    void Read(void* to, std::size_t n) {
        jack_ringbuffer_read(ring_.get(), static_cast<char*>(to), n);
    }
    void Skip(std::size_t n) { jack_ringbuffer_read_advance(ring_.get(), n); }

private:
    struct Free {
        void operator()(jack_ringbuffer_t* r) const noexcept { jack_ringbuffer_free(r); }
    };
    std::unique_ptr<jack_ringbuffer_t, Free> ring_;
};

}  // namespace mbs::jack
