#include "test_server.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace {

using Clock = std::chrono::steady_clock;

// Drops what the client sends until it closes its end (true) or the deadline passes (false).
bool AwaitClose(int fd, Clock::time_point deadline) {
    char buffer[4096];
    for (pollfd p{fd, POLLIN, 0};; p.revents = 0) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) == 0) return false;
        ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return true;
    }
}

bool Send(int fd, std::string_view bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

// The header block and the body that its Content-length announces.
std::string ReadRequest(int fd) {
    std::string data;
    char buffer[4096];
    for (ssize_t n = 0;; data.append(buffer, static_cast<size_t>(n))) {
        const size_t end = data.find("\r\n\r\n");
        const size_t length = data.find("\r\nContent-length: ");
        if (end != std::string::npos &&
            data.size() >= end + 4 + (length < end ? std::atol(&data[length + 18]) : 0))
            return data;
        if ((n = ::recv(fd, buffer, sizeof buffer, 0)) <= 0) return data;
    }
}

}  // namespace

TestServer::TestServer(Script first, Script later)
    : first_(std::move(first)), later_(later.empty() ? first_ : std::move(later)) {
    listener_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* a = reinterpret_cast<sockaddr*>(&address);
    if (::bind(listener_.Get(), a, length) != 0 || ::listen(listener_.Get(), 16) != 0 ||
        ::getsockname(listener_.Get(), a, &length) != 0)
        throw std::runtime_error("no port for the test server on 127.0.0.1");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

// Shutting the sockets down wakes every wait of the server's thread.
TestServer::~TestServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        if (connection_ >= 0) ::shutdown(connection_, SHUT_RDWR);
    }
    ::shutdown(listener_.Get(), SHUT_RDWR);
    thread_.join();
}

std::string TestServer::URL() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

std::vector<std::string> TestServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void TestServer::Serve() {
    for (bool first = true;; first = false) {
        fw::UniqueFd fd(::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        {
            std::lock_guard lock(mutex_);
            if (!fd || stopping_) return;
            connection_ = fd.Get();
        }
        std::string request = ReadRequest(fd.Get());
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(std::move(request));
        }
        Play(fd.Get(), first ? first_ : later_);
        std::lock_guard lock(mutex_);
        connection_ = -1;
    }
}

void TestServer::Play(int fd, const Script& script) const {
    for (const Step& step : script) {
        switch (step.kind) {
            case Step::Kind::kSend:
                if (!Send(fd, step.bytes)) return;
                break;
            case Step::Kind::kSendForever:
                while (Send(fd, step.bytes)) {
                }
                return;
            case Step::Kind::kDrip:
                for (size_t i = 0; i < step.bytes.size(); ++i)
                    if (AwaitClose(fd, Clock::now() + step.pace) ||
                        !Send(fd, step.bytes.substr(i, 1)))
                        return;
                break;
            case Step::Kind::kReset:
                linger reset{1, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                return;
        }
    }
}
