#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "streams.h"
#include "uniquefd.h"

struct addrinfo;

namespace fw {

// A TCP client connection on a non-blocking POSIX socket. Nothing here blocks: Connect only
// starts the work (a host name is resolved on a thread of its own), and the socket's events
// are raised from Poll, which its owner calls, directly or through PollAllSockets. A socket
// belongs to the thread that polls it.
class TCPSocket : public Readable, public Writeable {
public:
    // Values of LastErrorCode.
    static constexpr int32_t kErrorNone = 0;
    static constexpr int32_t kErrorNoSocket = 100;           // the system gave no socket or thread
    static constexpr int32_t kErrorConnectionClosed = 102;   // the peer closed normally
    static constexpr int32_t kErrorNameNotResolved = 103;    // no address for the host name
    static constexpr int32_t kErrorConnectionReset = 104;    // the peer reset the connection
    static constexpr int32_t kErrorConnectionRefused = 105;  // nothing listens there
    static constexpr int32_t kErrorConnectFailed = 106;      // unreachable, timed out, ...
    static constexpr int32_t kErrorInvalidPort = 107;        // port outside 1 to 65535

    TCPSocket();
    ~TCPSocket() override;
    TCPSocket(const TCPSocket&) = delete;
    TCPSocket& operator=(const TCPSocket&) = delete;

    // Host name or numeric address, and port, that Connect uses.
    std::string Address;
    int32_t Port = 0;

    // Drops any earlier connection and starts connecting to Address and Port. Connected, or
    // Error when it fails, is raised by a later Poll. Virtual so that a subclass can supply the
    // connection another way (see Adopt).
    virtual void Connect();
    // Drops any earlier connection and takes over a stream socket that is already connected;
    // Connected is raised by the next Poll.
    void Adopt(UniqueFd connected);
    // Ends the connection without raising an event. Unread bytes stay readable; unsent ones go.
    void Close();
    // Discards unread and unsent bytes.
    void Purge();
    // Does the pending work and raises the events that follow from it: Connected; then
    // DataAvailable when bytes arrived; then Error when the connection ended (also when the peer
    // closed it normally: LastErrorCode tells kErrorConnectionClosed from a reset).
    void Poll();
    // Blocks until Poll has something to do or the time has passed (negative: no limit).
    void WaitForActivity(int32_t milliseconds) const;

    void Write(std::string_view data) override;
    void Flush() override;
    bool WriteError() const override { return writeError_; }
    std::string Read(int32_t count) override;
    bool EndOfFile() const override { return !IsConnected() && unread_.empty(); }
    bool ReadError() const override;
    std::string ReadAll();
    // The unread bytes, left unread. Valid until the next call on the socket.
    const std::string& Lookahead() const { return unread_; }
    int32_t BytesAvailable() const { return static_cast<int32_t>(unread_.size()); }
    int32_t BytesLeftToSend() const { return static_cast<int32_t>(unsent_.size()); }
    bool IsConnected() const { return state_ == State::Connected; }
    int32_t LastErrorCode() const { return lastError_; }

protected:
    // The socket's events, for a subclass to handle.
    virtual void Event_Connected() {}
    virtual void Event_DataAvailable() {}
    virtual void Event_Error() {}

private:
    enum class State { Idle, Resolving, Connecting, Connected, Failed };
    struct Resolution;
    struct Endpoint;

    static std::vector<Endpoint> EndpointsOf(const ::addrinfo* list);
    void StartResolving();
    bool CollectResolution();
    void ConnectNextEndpoint();
    bool ConnectionEstablished();
    void Transfer(uint64_t generation);
    int SendUnsent();
    void Fail(int32_t code);
    void RaiseFailure();

    State state_ = State::Idle;
    UniqueFd fd_;
    std::shared_ptr<Resolution> resolution_;
    std::vector<Endpoint> endpoints_;
    size_t nextEndpoint_ = 0;
    int32_t lastError_ = kErrorNone;
    int pendingWriteErrno_ = 0;
    bool writeError_ = false;
    std::string unread_;
    std::string unsent_;
    // Counts Connect, Adopt and Close, so that Poll notices when an event handler started over.
    uint64_t generation_ = 0;
};

// Polls every socket that exists, so that an event loop can deliver their events.
void PollAllSockets();
bool AnySockets();
// Called when a socket comes into being while none existed, so that an event loop polls
// sockets only while there are any.
void SetFirstSocketHandler(std::function<void()> handler);

}  // namespace fw
