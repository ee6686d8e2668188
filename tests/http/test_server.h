#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/uniquefd.h"

// What the server does on a connection once it has read the request.
struct Step {
    enum class Kind { kSend, kSendForever, kDrip, kReset } kind;
    std::string bytes;
    std::chrono::milliseconds pace{};

    // Sends the bytes.
    static Step Send(std::string bytes) { return {Kind::kSend, std::move(bytes)}; }
    // Sends the bytes again and again until the client goes away.
    static Step SendForever(std::string unit) { return {Kind::kSendForever, std::move(unit)}; }
    // Sends the bytes one at a time, each after a pause of `pace`, until the client goes away.
    static Step Drip(std::string bytes, std::chrono::milliseconds pace) {
        return {Kind::kDrip, std::move(bytes), pace};
    }
    // Ends the connection with a reset (RST); a script that ends without it closes normally.
    static Step Reset() { return {Kind::kReset, {}}; }
};
using Script = std::vector<Step>;

// A scripted HTTP server on 127.0.0.1. It serves one connection at a time on a thread of its
// own: it reads the request (its header block and the body its Content-length announces), then
// plays the connection's script. Destroying it ends every wait. For a version file, say:
//     TestServer server({Step::Send("HTTP/1.0 200 OK\r\n\r\n1.0.0\n")});
class TestServer {
public:
    // The first connection plays `first`; later ones play `later`, or `first` when it is empty.
    explicit TestServer(Script first, Script later = {});
    ~TestServer();

    uint16_t Port() const { return port_; }
    // "http://127.0.0.1:<port>/"
    std::string URL() const;
    // The requests received so far, byte for byte, in order.
    std::vector<std::string> Requests() const;

private:
    void Serve();
    void Play(int fd, const Script& script) const;

    const Script first_;
    const Script later_;
    fw::UniqueFd listener_;
    uint16_t port_ = 0;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    int connection_ = -1;
    bool stopping_ = false;
    std::thread thread_;
};
