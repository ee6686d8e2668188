#pragma once

#include <algorithm>
#include <chrono>
#include <functional>

#include "core/tcpsocket.h"

// Delivers socket events through fw::PollAllSockets until the condition holds or the time
// passes; true when it held. Between rounds it blocks on the given socket's activity.
inline bool PollUntil(const fw::TCPSocket& socket, const std::function<bool()>& condition,
                      int timeoutMs = 5000) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        fw::PollAllSockets();
        if (condition()) return true;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        // Bounded, because the condition may also depend on other sockets.
        socket.WaitForActivity(static_cast<int32_t>(std::min<long long>(left, 50)));
    }
}
