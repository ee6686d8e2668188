#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/uniquefd.h"

class TestServer;

// One accepted connection, from the server's side. Every wait ends early when the server
// stops, so that no handler outlives its test.
class ServerConnection {
public:
    ServerConnection(TestServer& server, fw::UniqueFd fd, int index);

    // 0 for the server's first connection, 1 for the next ...
    int Index() const { return index_; }
    // Reads one request: its header block and the body its Content-length announces. The text
    // is also recorded in the server's Requests. Empty when none came in time.
    std::string ReadRequest(int timeoutMs = 5000);
    // False when the client went away or the server stops.
    bool Send(std::string_view data);
    // Sends the unit again and again until the client goes away or the server stops.
    uint64_t SendForever(std::string_view unit);
    // Ends the connection normally (FIN).
    void Close();
    // Ends the connection with a reset (RST).
    void Reset();
    // Waits until the client closes its end; false when the time passed or the server stops.
    bool WaitForClientClose(int timeoutMs);
    bool IsOpen() const { return fd_.IsValid(); }

private:
    // Waits for the events on the connection; false on time-out or stop.
    bool WaitFor(short events, std::chrono::steady_clock::time_point deadline);

    TestServer& server_;
    fw::UniqueFd fd_;
    int index_;
    std::string pending_;
};

// A TCP server on 127.0.0.1 that serves its connections one after the other on a thread of
// its own, each with the same handler.
class TestServer {
public:
    using Handler = std::function<void(ServerConnection&)>;

    // Port 0 takes a free one; a given port that is taken also falls back to a free one.
    explicit TestServer(Handler handler, uint16_t port = 0);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    uint16_t Port() const { return port_; }
    // "127.0.0.1:port"
    std::string HostPort() const;
    std::string URL(const std::string& path = "/") const { return "http://" + HostPort() + path; }
    std::vector<std::string> Requests() const;
    int Connections() const;
    // Waits until the server has finished with that many connections.
    bool WaitForHandled(int count, int timeoutMs = 5000) const;

private:
    friend class ServerConnection;
    void Run();
    void Record(std::string request);

    Handler handler_;
    fw::UniqueFd listener_;
    fw::UniqueFd stop_;
    uint16_t port_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> requests_;
    int connections_ = 0;
    int handled_ = 0;
    std::thread thread_;
};

// A flag that one thread sets and another waits for.
class Latch {
public:
    void Set();
    bool Wait(int timeoutMs);
    bool IsSet() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool set_ = false;
};

// Milliseconds since it was made.
class Stopwatch {
public:
    int64_t ElapsedMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start_)
            .count();
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// A port on 127.0.0.1 that is bound but not listening, so a connection to it is refused.
class RefusingPort {
public:
    RefusingPort();
    uint16_t Port() const { return port_; }

private:
    fw::UniqueFd fd_;
    uint16_t port_ = 0;
};
