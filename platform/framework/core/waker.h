#pragma once

#include <sys/eventfd.h>

#include <cstdint>

#include "core/uniquefd.h"

namespace fw {

// Wakes a thread blocked in poll on Fd(). Wake is safe from any thread, a real-time one
// included: it never blocks, as an eventfd's counter does not come near overflowing.
class Waker {
public:
    Waker() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    bool Valid() const { return fd_.IsValid(); }
    int Fd() const { return fd_.Get(); }
    void Wake() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(fd_.Get(), &one, sizeof one);
    }
    // For the woken thread: takes the wake-ups so far, so that poll blocks again.
    void Clear() const {
        std::uint64_t count = 0;
        [[maybe_unused]] ssize_t n = read(fd_.Get(), &count, sizeof count);
    }

private:
    UniqueFd fd_;
};

}  // namespace fw
