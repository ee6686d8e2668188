// Broken and hostile servers: each reply ends within the client's bounds of memory and time.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/tcpsocket.h"
#include "core/text.h"
#include "http_test_support.h"
#include "httpsocket.h"
#include "test_server.h"

using namespace std::string_literals;

TEST(HttpHostile, AFloodOfHeaderBytesFailsAtTheHeaderBound) {
    TestServer server([](ServerConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.0 200 OK\r\n");
        c.SendForever("X-Flood: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\r\n");
    });
    RecordingClient client;
    Stopwatch watch;
    EXPECT_EQ(client.Get(server.URL(), 3), "");
    // Well before the inactivity limit: the server never stops sending.
    EXPECT_LT(watch.ElapsedMs(), 1500);
    EXPECT_EQ(client.ErrorCode(), HTTPSocket::kErrorHeaderTooLarge);
    EXPECT_EQ(client.HTTPStatusCode(), 0);
    EXPECT_TRUE(client.PageHeaders().IsNil());
    EXPECT_EQ(client.BytesAvailable(), 0);
    EXPECT_FALSE(client.IsConnected());
    // The server's endless send ended because the client went away.
    EXPECT_TRUE(server.WaitForHandled(1));
}

TEST(HttpHostile, AHeaderBlockOfExactlyTheBoundIsAcceptedAndOneByteMoreIsNot) {
    // Thousands of repeats of one header, padded to the length wanted.
    auto block = [](size_t length) {
        std::string b = "HTTP/1.0 200 OK";
        while (b.size() + 6 + 8 <= length) b += "\r\nX: 1";
        b += "\r\nPad: ";
        b.append(length - b.size(), 'p');
        return b;
    };
    for (size_t length : {size_t{64 * 1024}, size_t{64 * 1024 + 1}}) {
        SCOPED_TRACE(length);
        const std::string head = block(length);
        ASSERT_EQ(head.size(), length);
        TestServer server(Serve(head + "\r\n\r\nbody"));
        HTTPSocket client;
        std::string body = client.Get(server.URL(), 3);
        if (length == 64 * 1024) {
            EXPECT_EQ(body, "body");
            EXPECT_EQ(client.ErrorCode(), 0);
            ASSERT_FALSE(client.PageHeaders().IsNil());
            EXPECT_EQ(client.PageHeaders()->Source(), head);
            EXPECT_GT(client.PageHeaders()->NameCount("X"), 10000);
        } else {
            EXPECT_EQ(body, "");
            EXPECT_EQ(client.ErrorCode(), HTTPSocket::kErrorHeaderTooLarge);
            EXPECT_TRUE(client.PageHeaders().IsNil());
        }
    }
}

TEST(HttpHostile, AHeaderBlockThatNeverEndsEndsByTheTimeOutWithNothing) {
    for (bool serverCloses : {false, true}) {
        SCOPED_TRACE(serverCloses ? "server closes" : "server holds");
        TestServer server([serverCloses](ServerConnection& c) {
            c.ReadRequest();
            c.Send("HTTP/1.0 200 OK\r\nX-Half: yes\r\n");
            if (!serverCloses) c.WaitForClientClose(20000);
        });
        HTTPSocket client;
        Stopwatch watch;
        EXPECT_EQ(client.Get(server.URL(), 1), "");
        EXPECT_GE(watch.ElapsedMs(), 950);
        EXPECT_LT(watch.ElapsedMs(), 2500);
        EXPECT_EQ(client.ErrorCode(), HTTPSocket::kErrorTimedOut);
        EXPECT_EQ(client.HTTPStatusCode(), 0);
        EXPECT_TRUE(client.PageHeaders().IsNil());
    }
}

TEST(HttpHostile, AnEndlessBodyStopsAtTheBodyBound) {
    TestServer server([](ServerConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.0 200 OK\r\n\r\n");
        c.SendForever(std::string(4096, 'z'));
    });
    HTTPSocket client;
    client.MaxBodyBytes = 64 * 1024;
    Stopwatch watch;
    std::string body = client.Get(server.URL(), 3);
    EXPECT_LT(watch.ElapsedMs(), 1500);
    EXPECT_EQ(body, std::string(64 * 1024, 'z'));
    EXPECT_EQ(client.ErrorCode(), HTTPSocket::kErrorBodyTooLarge);
    EXPECT_EQ(client.HTTPStatusCode(), 200);
    EXPECT_TRUE(server.WaitForHandled(1));
}

TEST(HttpHostile, OneBodyByteASecondIsCutOffByTheOverallBound) {
    TestServer server([](ServerConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.0 200 OK\r\n\r\n");
        for (char b : std::string("1.2.3.4.5.6.7.8.9")) {
            if (!c.Send(std::string(1, b)) || c.WaitForClientClose(1000)) break;
        }
    });
    HTTPSocket client;
    client.OverallTimeoutMilliseconds = 2000;
    Stopwatch watch;
    std::string body = client.Get(server.URL(), 3);
    // Every byte restarts the 3-second inactivity limit; only the overall bound ends it.
    EXPECT_GE(watch.ElapsedMs(), 1950);
    EXPECT_LT(watch.ElapsedMs(), 2900);
    EXPECT_EQ(client.ErrorCode(), HTTPSocket::kErrorOverallTimeOut);
    EXPECT_EQ(client.HTTPStatusCode(), 200);
    EXPECT_GE(body.size(), 2u);
    EXPECT_LE(body.size(), 4u);
    EXPECT_EQ(body, std::string("1.2.3").substr(0, body.size()));
    EXPECT_TRUE(server.WaitForHandled(1));
}

TEST(HttpHostile, HeaderBytesDrippingInDoNotRestartTheInactivityLimit) {
    TestServer server([](ServerConnection& c) {
        c.ReadRequest();
        for (char b : std::string("HTTP/1.0 200 OK\r\n\r\n1.0")) {
            if (!c.Send(std::string(1, b)) || c.WaitForClientClose(300)) break;
        }
    });
    HTTPSocket client;
    Stopwatch watch;
    EXPECT_EQ(client.Get(server.URL(), 1), "");
    EXPECT_LT(watch.ElapsedMs(), 1500);
    EXPECT_EQ(client.ErrorCode(), HTTPSocket::kErrorTimedOut);
    EXPECT_EQ(client.HTTPStatusCode(), 0);
}

TEST(HttpHostile, AResetInTheBodyIsAnErrorWhereANormalCloseEndsThePage) {
    for (bool reset : {true, false}) {
        SCOPED_TRACE(reset ? "reset" : "normal close");
        TestServer server([reset](ServerConnection& c) {
            c.ReadRequest();
            c.Send("HTTP/1.0 200 OK\r\nContent-length: 100\r\n\r\n1.2");
            if (reset) {
                c.Reset();
            } else {
                c.Close();
            }
        });
        HTTPSocket client;
        Stopwatch watch;
        // Bytes that arrived before the reset are still read; only the end differs.
        EXPECT_EQ(client.Get(server.URL(), 3), "1.2");
        EXPECT_LT(watch.ElapsedMs(), 1500);
        EXPECT_EQ(client.HTTPStatusCode(), 200);
        EXPECT_EQ(client.ErrorCode(), reset ? fw::TCPSocket::kErrorConnectionReset : 0);
    }
}

TEST(HttpHostile, NulBytesAndBareCarriageReturnsInHeadersStayInTheirValues) {
    const std::string reply =
        "HTTP/1.0 200 OK\r\nX-Nul: a\0b\r\nX-Cr: c\rd\r\n\0Odd: e\r\n\r\nbody"s;
    TestServer server(Serve(reply));
    HTTPSocket client;
    EXPECT_EQ(client.Get(server.URL(), 3), "body");
    EXPECT_EQ(client.HTTPStatusCode(), 200);
    auto headers = client.PageHeaders();
    ASSERT_FALSE(headers.IsNil());
    EXPECT_EQ(headers->Value("X-Nul"), "a\0b"s);
    EXPECT_EQ(headers->Value("X-Cr"), "c\rd");
    EXPECT_EQ(headers->Value("\0Odd"s), "e");
    EXPECT_EQ(headers->Count(), 3);
}

TEST(HttpHostile, GarbageStatusLinesGiveTheirLeadingNumberOrZero) {
    struct Case {
        std::string reply;
        int32_t status;
    };
    const std::vector<Case> cases = {
        {"GARBAGE\r\n\r\nbody", 0},
        {"\x01\xff \xfe\0 x\r\n\r\nbody"s, 0},
        {"HTTP/1.0 two hundred\r\n\r\nbody", 0},
        {"HTTP/1.0 99999999999 Big\r\nContent-length: 99999999999\r\n\r\nbody", 2147483647},
        {"HTTP/1.0 -5 Negative\r\n\r\nbody", -5},
        {"HTTP/1.0  200 Two spaces\r\n\r\nbody", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        TestServer server(Serve(c.reply));
        RecordingClient client;
        EXPECT_EQ(client.Get(server.URL(), 3), "body");
        EXPECT_EQ(client.HTTPStatusCode(), c.status);
        EXPECT_EQ(client.ErrorCode(), 0);
    }
    TestServer silent(Serve(""));
    HTTPSocket client;
    EXPECT_EQ(client.Get(silent.URL(), 3), "");
    EXPECT_EQ(client.HTTPStatusCode(), 0);
    EXPECT_TRUE(client.PageHeaders().IsNil());
}
