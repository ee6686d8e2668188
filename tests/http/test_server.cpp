#include "test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace {

using Clock = std::chrono::steady_clock;

fw::UniqueFd BoundSocket(uint16_t port) {
    fw::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) throw std::runtime_error("socket");
    int one = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return {};
    return fd;
}

uint16_t PortOf(const fw::UniqueFd& fd) {
    sockaddr_in a{};
    socklen_t length = sizeof a;
    ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&a), &length);
    return ntohs(a.sin_port);
}

// The announced body length of a request's header block, 0 when none.
size_t ContentLength(const std::string& head) {
    std::string lower = head;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    size_t at = lower.find("\r\ncontent-length:");
    if (at == std::string::npos) return 0;
    return static_cast<size_t>(std::strtoul(head.c_str() + at + 17, nullptr, 10));
}

}  // namespace

// --- ServerConnection -------------------------------------------------------------------

ServerConnection::ServerConnection(TestServer& server, fw::UniqueFd fd, int index)
    : server_(server), fd_(std::move(fd)), index_(index) {
    ::fcntl(fd_.Get(), F_SETFL, ::fcntl(fd_.Get(), F_GETFL) | O_NONBLOCK);
}

bool ServerConnection::WaitFor(short events, Clock::time_point deadline) {
    while (fd_) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p[2] = {{fd_.Get(), events, 0}, {server_.stop_.Get(), POLLIN, 0}};
        int n = ::poll(p, 2, static_cast<int>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || p[1].revents) return false;
        if (p[0].revents) return true;
    }
    return false;
}

std::string ServerConnection::ReadRequest(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string& data = pending_;
    size_t need = std::string::npos;
    while (true) {
        size_t end = data.find("\r\n\r\n");
        if (end != std::string::npos) {
            need = end + 4 + ContentLength(data.substr(0, end + 2));
            if (data.size() >= need) break;
        }
        if (!WaitFor(POLLIN, deadline)) return {};
        char buffer[4096];
        ssize_t n = ::recv(fd_.Get(), buffer, sizeof buffer, 0);
        if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR))) return {};
        if (n > 0) data.append(buffer, static_cast<size_t>(n));
    }
    std::string request = data.substr(0, need);
    data.erase(0, need);
    server_.Record(request);
    return request;
}

bool ServerConnection::Send(std::string_view data) {
    while (!data.empty()) {
        if (!WaitFor(POLLOUT, Clock::now() + std::chrono::seconds(10))) return false;
        ssize_t n = ::send(fd_.Get(), data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

uint64_t ServerConnection::SendForever(std::string_view unit) {
    uint64_t sent = 0;
    while (Send(unit)) sent += unit.size();
    return sent;
}

void ServerConnection::Close() {
    fd_.Reset();
}

void ServerConnection::Reset() {
    if (!fd_) return;
    linger l{1, 0};
    ::setsockopt(fd_.Get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    fd_.Reset();
}

bool ServerConnection::WaitForClientClose(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (WaitFor(POLLIN, deadline)) {
        char buffer[4096];
        ssize_t n = ::recv(fd_.Get(), buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return true;
    }
    return false;
}

// --- TestServer -------------------------------------------------------------------------

TestServer::TestServer(Handler handler, uint16_t port) : handler_(std::move(handler)) {
    listener_ = BoundSocket(port);
    if (!listener_ && port != 0) listener_ = BoundSocket(0);
    if (!listener_ || ::listen(listener_.Get(), 16) != 0) throw std::runtime_error("listen");
    port_ = PortOf(listener_);
    stop_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    thread_ = std::thread([this] { Run(); });
}

TestServer::~TestServer() {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(stop_.Get(), &one, sizeof one);
    thread_.join();
}

std::string TestServer::HostPort() const {
    return "127.0.0.1:" + std::to_string(port_);
}

void TestServer::Run() {
    for (int index = 0;; ++index) {
        pollfd p[2] = {{listener_.Get(), POLLIN, 0}, {stop_.Get(), POLLIN, 0}};
        if (::poll(p, 2, -1) < 0 && errno == EINTR) continue;
        if (p[1].revents) return;
        fw::UniqueFd client(::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!client) continue;
        {
            std::lock_guard lock(mutex_);
            ++connections_;
        }
        {
            ServerConnection connection(*this, std::move(client), index);
            handler_(connection);
        }
        std::lock_guard lock(mutex_);
        ++handled_;
        changed_.notify_all();
    }
}

void TestServer::Record(std::string request) {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(request));
    changed_.notify_all();
}

std::vector<std::string> TestServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

int TestServer::Connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

bool TestServer::WaitForHandled(int count, int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return handled_ >= count; });
}

// --- Latch, RefusingPort ----------------------------------------------------------------

void Latch::Set() {
    std::lock_guard lock(mutex_);
    set_ = true;
    cv_.notify_all();
}

bool Latch::Wait(int timeoutMs) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return set_; });
}

bool Latch::IsSet() const {
    std::lock_guard lock(mutex_);
    return set_;
}

RefusingPort::RefusingPort() : fd_(BoundSocket(0)) {
    if (!fd_) throw std::runtime_error("bind");
    port_ = PortOf(fd_);
}
