// The framework's TCP socket against real servers on 127.0.0.1.

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <string>
#include <vector>

#include "core/tcpsocket.h"
#include "poll_until.h"
#include "test_server.h"

namespace {

// Records the socket's events in the order they come.
class RecordingSocket : public fw::TCPSocket {
public:
    std::vector<std::string> events;
    std::string received;
    bool consume = true;

protected:
    void Event_Connected() override { events.push_back("Connected"); }
    void Event_DataAvailable() override {
        if (events.empty() || events.back() != "DataAvailable") events.push_back("DataAvailable");
        if (consume) received += ReadAll();
    }
    void Event_Error() override { events.push_back("Error " + std::to_string(LastErrorCode())); }
};

bool Ended(const RecordingSocket& s) {
    return !s.events.empty() && s.events.back().rfind("Error", 0) == 0;
}

}  // namespace

TEST(TcpSocket, ConnectsSendsAndReceivesWithItsEventsInOrder) {
    TestServer server([](ServerConnection& c) {
        std::string request = c.ReadRequest();
        c.Send("got " + std::to_string(request.size()) + " bytes");
    });
    RecordingSocket s;
    s.Address = "127.0.0.1";
    s.Port = server.Port();
    s.Connect();
    s.Write("PING / TEST\r\n\r\n");
    ASSERT_TRUE(PollUntil(s, [&] { return Ended(s); }));

    EXPECT_EQ(s.received, "got 15 bytes");
    EXPECT_EQ(s.events, (std::vector<std::string>{"Connected", "DataAvailable", "Error 102"}));
    EXPECT_EQ(s.LastErrorCode(), fw::TCPSocket::kErrorConnectionClosed);
    EXPECT_FALSE(s.IsConnected());
    EXPECT_FALSE(s.ReadError());
}

TEST(TcpSocket, LookaheadLeavesBytesUnreadAndReadTakesThemInOrder) {
    TestServer server([](ServerConnection& c) {
        c.Send("abcdef");
        c.WaitForClientClose(5000);
    });
    RecordingSocket s;
    s.consume = false;
    s.Address = "127.0.0.1";
    s.Port = server.Port();
    s.Connect();
    ASSERT_TRUE(PollUntil(s, [&] { return s.BytesAvailable() == 6; }));

    EXPECT_EQ(s.Lookahead(), "abcdef");
    EXPECT_EQ(s.Lookahead(), "abcdef");
    EXPECT_EQ(s.Read(2), "ab");
    EXPECT_EQ(s.Lookahead(), "cdef");
    EXPECT_EQ(s.ReadAll(), "cdef");
    EXPECT_EQ(s.BytesAvailable(), 0);
    EXPECT_TRUE(s.IsConnected());
    s.Close();
    EXPECT_TRUE(server.WaitForHandled(1));
}

TEST(TcpSocket, BytesReceivedBeforeThePeerClosedStayReadable) {
    TestServer server([](ServerConnection& c) { c.Send("last words"); });
    RecordingSocket s;
    s.consume = false;
    s.Address = "127.0.0.1";
    s.Port = server.Port();
    s.Connect();
    ASSERT_TRUE(PollUntil(s, [&] { return Ended(s); }));
    EXPECT_FALSE(s.EndOfFile());
    EXPECT_EQ(s.ReadAll(), "last words");
    EXPECT_TRUE(s.EndOfFile());
}

TEST(TcpSocket, ResetByThePeerIsToldApartFromANormalClose) {
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "normal close");
        TestServer server([reset](ServerConnection& c) {
            c.ReadRequest();
            c.Send("partial");
            if (reset) {
                c.Reset();
            } else {
                c.Close();
            }
        });
        RecordingSocket s;
        s.Address = "127.0.0.1";
        s.Port = server.Port();
        s.Connect();
        s.Write("GET / HTTP/1.0\r\n\r\n");
        ASSERT_TRUE(PollUntil(s, [&] { return Ended(s); }));
        EXPECT_EQ(s.LastErrorCode(), reset ? fw::TCPSocket::kErrorConnectionReset
                                           : fw::TCPSocket::kErrorConnectionClosed);
        EXPECT_EQ(s.ReadError(), reset);
    }
}

TEST(TcpSocket, FailuresToConnectRaiseErrorAndNeverConnected) {
    RefusingPort refusing;
    struct Case {
        std::string address;
        int32_t port;
        int32_t code;
    };
    const std::vector<Case> cases = {
        {"127.0.0.1", refusing.Port(), fw::TCPSocket::kErrorConnectionRefused},
        {"127.0.0.1", 0, fw::TCPSocket::kErrorInvalidPort},
        {"127.0.0.1", 70000, fw::TCPSocket::kErrorInvalidPort},
        {"", 80, fw::TCPSocket::kErrorNameNotResolved},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address + ":" + std::to_string(c.port));
        RecordingSocket s;
        s.Address = c.address;
        s.Port = c.port;
        s.Connect();
        ASSERT_TRUE(PollUntil(s, [&] { return Ended(s); }));
        EXPECT_EQ(s.events, std::vector<std::string>{"Error " + std::to_string(c.code)});
        EXPECT_FALSE(s.IsConnected());
    }
}

TEST(TcpSocket, HostNamesAreResolvedWithoutBlockingTheCaller) {
    TestServer server([](ServerConnection& c) { c.Send("hello"); });
    RecordingSocket named;
    named.Address = "localhost";
    named.Port = server.Port();
    Stopwatch connectCall;
    named.Connect();
    EXPECT_LT(connectCall.ElapsedMs(), 100);
    ASSERT_TRUE(PollUntil(named, [&] { return Ended(named); }));
    EXPECT_EQ(named.received, "hello");

    RecordingSocket unknown;
    unknown.Address = "nonexistent.invalid";
    unknown.Port = 80;
    Stopwatch unknownCall;
    unknown.Connect();
    EXPECT_LT(unknownCall.ElapsedMs(), 100);
    // The resolver's own time-outs bound this wait on a machine without a name server.
    ASSERT_TRUE(PollUntil(
        unknown, [&] { return Ended(unknown); }, 20000));
    EXPECT_EQ(unknown.events, std::vector<std::string>{"Error 103"});
}

TEST(TcpSocket, ALargeWriteIsSentAcrossPolls) {
    const std::string head = "PUT / HTTP/1.0\r\nContent-length: 4194304\r\n\r\n";
    const std::string payload(4 * 1024 * 1024, 'q');
    TestServer server([&](ServerConnection& c) {
        c.Send(c.ReadRequest(10000) == head + payload ? "all" : "short");
    });
    RecordingSocket s;
    s.Address = "127.0.0.1";
    s.Port = server.Port();
    s.Connect();
    s.Write(head);
    s.Write(payload);
    ASSERT_TRUE(PollUntil(
        s, [&] { return Ended(s); }, 10000));
    EXPECT_EQ(s.received, "all");
    EXPECT_EQ(s.BytesLeftToSend(), 0);
}

TEST(TcpSocket, AnAdoptedConnectedSocketRaisesConnectedAndCarriesData) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    fw::UniqueFd peer(pair[1]);
    RecordingSocket s;
    s.Adopt(fw::UniqueFd(pair[0]));
    ASSERT_TRUE(PollUntil(s, [&] { return s.IsConnected(); }));
    s.Write("to peer");
    char buffer[16] = {};
    ASSERT_EQ(::recv(peer.Get(), buffer, sizeof buffer, 0), 7);
    EXPECT_EQ(std::string(buffer), "to peer");
    ASSERT_EQ(::send(peer.Get(), "back", 4, 0), 4);
    peer.Reset();
    ASSERT_TRUE(PollUntil(s, [&] { return Ended(s); }));
    EXPECT_EQ(s.received, "back");
    EXPECT_EQ(s.events, (std::vector<std::string>{"Connected", "DataAvailable", "Error 102"}));
}

TEST(TcpSocket, PollAllSocketsServesEverySocketAndSkipsOnesThatAreGone) {
    TestServer first([](ServerConnection& c) { c.Send("one"); });
    TestServer second([](ServerConnection& c) { c.Send("two"); });
    RecordingSocket a;
    a.Address = "127.0.0.1";
    a.Port = first.Port();
    a.Connect();
    {
        RecordingSocket gone;
        gone.Address = "127.0.0.1";
        gone.Port = second.Port();
        gone.Connect();
    }
    RecordingSocket b;
    b.Address = "127.0.0.1";
    b.Port = second.Port();
    b.Connect();
    ASSERT_TRUE(PollUntil(a, [&] { return Ended(a) && Ended(b); }));
    EXPECT_EQ(a.received, "one");
    EXPECT_EQ(b.received, "two");
}
