#include "tcpsocket.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

namespace fw {

struct TCPSocket::Endpoint {
    sockaddr_storage address{};
    socklen_t length = 0;
};

// Shared by a socket and its resolver thread. The thread may outlive the socket's interest
// (a Close, a new Connect, the socket's end): it then finishes and the result is dropped.
struct TCPSocket::Resolution {
    std::mutex mutex;
    bool done = false;
    bool resolved = false;
    std::vector<Endpoint> endpoints;
    // Becomes readable when done, so that a waiting owner wakes at once.
    UniqueFd wake;
};

namespace {

// Bytes one Poll takes in at most, so that a fast sender cannot make a single Poll grow the
// buffer without end before the owner has looked at it.
constexpr size_t kMaxReadPerPoll = 64 * 1024;

std::mutex& RegistryMutex() {
    static std::mutex m;
    return m;
}

std::vector<TCPSocket*>& Registry() {
    static std::vector<TCPSocket*> sockets;
    return sockets;
}

bool IsRegistered(TCPSocket* socket) {
    std::lock_guard lock(RegistryMutex());
    auto& sockets = Registry();
    return std::find(sockets.begin(), sockets.end(), socket) != sockets.end();
}

int32_t CodeForErrno(int error) {
    switch (error) {
        case ECONNRESET:
        case EPIPE:
            return TCPSocket::kErrorConnectionReset;
        case ECONNREFUSED:
            return TCPSocket::kErrorConnectionRefused;
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
            return TCPSocket::kErrorNoSocket;
        default:
            return TCPSocket::kErrorConnectFailed;
    }
}

}  // namespace

std::vector<TCPSocket::Endpoint> TCPSocket::EndpointsOf(const addrinfo* list) {
    std::vector<Endpoint> endpoints;
    for (const addrinfo* a = list; a; a = a->ai_next) {
        if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
        Endpoint e;
        std::memcpy(&e.address, a->ai_addr, a->ai_addrlen);
        e.length = a->ai_addrlen;
        endpoints.push_back(e);
    }
    return endpoints;
}

std::function<void()>& FirstSocketHandler() {
    static std::function<void()> handler;
    return handler;
}

TCPSocket::TCPSocket() {
    bool first = false;
    {
        std::lock_guard lock(RegistryMutex());
        first = Registry().empty();
        Registry().push_back(this);
    }
    if (first && FirstSocketHandler()) FirstSocketHandler()();
}

TCPSocket::~TCPSocket() {
    std::lock_guard lock(RegistryMutex());
    auto& sockets = Registry();
    sockets.erase(std::remove(sockets.begin(), sockets.end(), this), sockets.end());
}

void TCPSocket::Connect() {
    Close();
    lastError_ = kErrorNone;
    pendingWriteErrno_ = 0;
    writeError_ = false;
    if (Port < 1 || Port > 65535) return Fail(kErrorInvalidPort);
    if (Address.empty()) return Fail(kErrorNameNotResolved);

    // A numeric address needs no resolver: connect at once.
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    std::string port = std::to_string(Port);
    if (::getaddrinfo(Address.c_str(), port.c_str(), &hints, &list) == 0) {
        endpoints_ = EndpointsOf(list);
        ::freeaddrinfo(list);
        ConnectNextEndpoint();
        return;
    }
    StartResolving();
}

void TCPSocket::StartResolving() {
    auto resolution = std::make_shared<Resolution>();
    resolution->wake.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!resolution->wake) return Fail(kErrorNoSocket);
    try {
        std::thread([resolution, host = Address, port = std::to_string(Port)] {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            hints.ai_flags = AI_NUMERICSERV;
            addrinfo* list = nullptr;
            std::vector<Endpoint> endpoints;
            bool resolved = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &list) == 0;
            if (resolved) {
                endpoints = EndpointsOf(list);
                ::freeaddrinfo(list);
            }
            std::lock_guard lock(resolution->mutex);
            resolution->resolved = resolved && !endpoints.empty();
            resolution->endpoints = std::move(endpoints);
            resolution->done = true;
            uint64_t one = 1;
            [[maybe_unused]] ssize_t n = ::write(resolution->wake.Get(), &one, sizeof one);
        }).detach();
    } catch (const std::system_error&) {
        return Fail(kErrorNoSocket);
    }
    resolution_ = std::move(resolution);
    state_ = State::Resolving;
}

// True when the resolution has ended, after which the socket is connecting or has failed.
bool TCPSocket::CollectResolution() {
    std::shared_ptr<Resolution> resolution = resolution_;
    {
        std::lock_guard lock(resolution->mutex);
        if (!resolution->done) return false;
        if (resolution->resolved) endpoints_ = std::move(resolution->endpoints);
    }
    resolution_.reset();
    if (endpoints_.empty()) {
        Fail(kErrorNameNotResolved);
    } else {
        ConnectNextEndpoint();
    }
    return true;
}

void TCPSocket::ConnectNextEndpoint() {
    int32_t failure = kErrorConnectFailed;
    while (nextEndpoint_ < endpoints_.size()) {
        const Endpoint& e = endpoints_[nextEndpoint_++];
        UniqueFd fd(::socket(e.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!fd) {
            failure = CodeForErrno(errno);
            continue;
        }
        int rc;
        do {
            rc = ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&e.address), e.length);
        } while (rc != 0 && errno == EINTR);
        if (rc == 0 || errno == EINPROGRESS) {
            fd_ = std::move(fd);
            state_ = State::Connecting;
            return;
        }
        failure = CodeForErrno(errno);
    }
    Fail(failure);
}

// True when the connection is made; may also move on to the next address, or fail.
bool TCPSocket::ConnectionEstablished() {
    pollfd p{fd_.Get(), POLLOUT, 0};
    if (::poll(&p, 1, 0) <= 0) return false;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd_.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    if (error == 0) {
        state_ = State::Connected;
        return true;
    }
    fd_.Reset();
    lastError_ = CodeForErrno(error);
    if (nextEndpoint_ < endpoints_.size()) {
        ConnectNextEndpoint();
    } else {
        Fail(lastError_);
    }
    return false;
}

void TCPSocket::Adopt(UniqueFd connected) {
    Close();
    lastError_ = kErrorNone;
    pendingWriteErrno_ = 0;
    writeError_ = false;
    if (!connected) return Fail(kErrorNoSocket);
    int flags = ::fcntl(connected.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(connected.Get(), F_SETFL, flags | O_NONBLOCK) < 0)
        return Fail(CodeForErrno(errno));
    fd_ = std::move(connected);
    state_ = State::Connecting;
}

void TCPSocket::Close() {
    ++generation_;
    fd_.Reset();
    resolution_.reset();
    endpoints_.clear();
    nextEndpoint_ = 0;
    unsent_.clear();
    state_ = State::Idle;
}

void TCPSocket::Purge() {
    unread_.clear();
    unsent_.clear();
}

void TCPSocket::Fail(int32_t code) {
    fd_.Reset();
    resolution_.reset();
    lastError_ = code;
    state_ = State::Failed;
}

void TCPSocket::RaiseFailure() {
    state_ = State::Idle;
    endpoints_.clear();
    nextEndpoint_ = 0;
    Event_Error();
}

void TCPSocket::Poll() {
    const uint64_t generation = generation_;
    if (state_ == State::Resolving && !CollectResolution()) return;
    if (state_ == State::Connecting && ConnectionEstablished()) {
        Event_Connected();
        if (generation_ != generation) return;
    }
    if (state_ == State::Failed) return RaiseFailure();
    if (state_ == State::Connected) Transfer(generation);
}

void TCPSocket::Transfer(uint64_t generation) {
    bool peerClosed = false;
    int readErrno = 0;
    size_t received = 0;
    char buffer[16 * 1024];
    while (received < kMaxReadPerPoll) {
        size_t room = std::min(sizeof buffer, kMaxReadPerPoll - received);
        ssize_t n = ::recv(fd_.Get(), buffer, room, 0);
        if (n > 0) {
            unread_.append(buffer, static_cast<size_t>(n));
            received += static_cast<size_t>(n);
        } else if (n == 0) {
            peerClosed = true;
            break;
        } else if (errno != EINTR) {
            if (errno != EAGAIN && errno != EWOULDBLOCK) readErrno = errno;
            break;
        }
    }
    int writeErrno = std::exchange(pendingWriteErrno_, 0);
    if (!writeErrno && !peerClosed && !readErrno) writeErrno = SendUnsent();

    if (received > 0) {
        Event_DataAvailable();
        if (generation_ != generation) return;
    }
    if (!peerClosed && !readErrno && !writeErrno) return;
    if (readErrno) {
        lastError_ = CodeForErrno(readErrno);
    } else if (peerClosed) {
        lastError_ = kErrorConnectionClosed;
    } else {
        lastError_ = CodeForErrno(writeErrno);
    }
    ++generation_;
    fd_.Reset();
    unsent_.clear();
    state_ = State::Idle;
    Event_Error();
}

// Sends what the kernel takes now; returns the error number of a failed send, else 0.
int TCPSocket::SendUnsent() {
    while (!unsent_.empty()) {
        ssize_t n = ::send(fd_.Get(), unsent_.data(), unsent_.size(), MSG_NOSIGNAL);
        if (n > 0) {
            unsent_.erase(0, static_cast<size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return 0;
        } else {
            writeError_ = true;
            return n < 0 ? errno : EPIPE;
        }
    }
    return 0;
}

void TCPSocket::WaitForActivity(int32_t milliseconds) const {
    pollfd p{-1, 0, 0};
    switch (state_) {
        case State::Resolving:
            p = {resolution_->wake.Get(), POLLIN, 0};
            break;
        case State::Connecting:
            p = {fd_.Get(), POLLOUT, 0};
            break;
        case State::Connected:
            p = {fd_.Get(), static_cast<short>(POLLIN | (unsent_.empty() ? 0 : POLLOUT)), 0};
            break;
        case State::Failed:
            return;
        case State::Idle:
            break;
    }
    ::poll(p.fd >= 0 ? &p : nullptr, p.fd >= 0 ? 1 : 0, milliseconds);
}

void TCPSocket::Write(std::string_view data) {
    unsent_.append(data);
    if (state_ == State::Connected && pendingWriteErrno_ == 0) pendingWriteErrno_ = SendUnsent();
}

void TCPSocket::Flush() {
    if (state_ == State::Connected && pendingWriteErrno_ == 0) pendingWriteErrno_ = SendUnsent();
}

bool TCPSocket::ReadError() const {
    return lastError_ != kErrorNone && lastError_ != kErrorConnectionClosed;
}

std::string TCPSocket::Read(int32_t count) {
    if (count <= 0) return {};
    size_t n = std::min(unread_.size(), static_cast<size_t>(count));
    std::string out = unread_.substr(0, n);
    unread_.erase(0, n);
    return out;
}

std::string TCPSocket::ReadAll() {
    return std::exchange(unread_, std::string());
}

void SetFirstSocketHandler(std::function<void()> handler) {
    FirstSocketHandler() = std::move(handler);
}

bool AnySockets() {
    std::lock_guard lock(RegistryMutex());
    return !Registry().empty();
}

void PollAllSockets() {
    std::vector<TCPSocket*> sockets;
    {
        std::lock_guard lock(RegistryMutex());
        sockets = Registry();
    }
    // An event handler may destroy sockets, so each one is looked up again before its turn.
    for (TCPSocket* socket : sockets)
        if (IsRegistered(socket)) socket->Poll();
}

}  // namespace fw
