// The update check against version files served on 127.0.0.1, and against the maker's site,
// which a test machine cannot reach.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http_test_support.h"
#include "test_server.h"
#include "update_check.h"

using namespace std::string_literals;

namespace {

UpdateSite LocalSite(const TestServer& server) {
    UpdateSite site;
    site.baseURL = server.URL("/");
    site.hostName = "updates.example";
    return site;
}

std::string CouldNotAccess(const std::string& status) {
    return "Could not access the version file on updates.example to check for the latest "
           "version (" +
           status + ").";
}

const std::string kUpToDate = "Your version of Quillet is up to date.\nCurrent version: 1.4.2";

}  // namespace

TEST(UpdateCheck, RequestsTheVersionFileWithExactlyThisRequest) {
    TestServer server(Serve("HTTP/1.0 200 OK\r\n\r\n1.4.2"));
    EXPECT_EQ(UpdateCheckMessage("Quillet", "1.4.2", LocalSite(server)), kUpToDate);
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0],
              "GET /QuilletVersion.txt HTTP/1.0\r\n"
              "Accept: */*\r\n"
              "Accept-Language: en\r\n"
              "Host: " +
                  server.HostPort() + "\r\n\r\n");
}

TEST(UpdateCheck, TheSameVersionWithATrailingLineBreakIsUpToDate) {
    for (const std::string body : {"1.4.2\r\n", "  1.4.2\n\n", "\t1.4.2 ", "1.4.2"}) {
        SCOPED_TRACE(body);
        TestServer server(Serve("HTTP/1.0 200 OK\r\nContent-type: text/plain\r\n\r\n" + body));
        EXPECT_EQ(UpdateCheckMessage("Quillet", "1.4.2", LocalSite(server)), kUpToDate);
    }
}

TEST(UpdateCheck, ADifferentPublishedVersionIsNewerEvenWhenLower) {
    for (const std::string published : {"1.5.0", "0.9", "1.4.2\nbeta"}) {
        SCOPED_TRACE(published);
        TestServer server(Serve("HTTP/1.0 200 OK\r\n\r\n" + published + "\n"));
        EXPECT_EQ(UpdateCheckMessage("Quillet", "1.4.2", LocalSite(server)),
                  "A newer version of Quillet is available. Please go to updates.example to "
                  "download the latest version: " +
                      published);
    }
}

TEST(UpdateCheck, VersionsCompareAsTextWithoutRegardToLetterCase) {
    TestServer server(Serve("HTTP/1.0 200 OK\r\n\r\n2.0B1"));
    EXPECT_EQ(UpdateCheckMessage("Quillet", "2.0b1", LocalSite(server)),
              "Your version of Quillet is up to date.\nCurrent version: 2.0B1");
}

TEST(UpdateCheck, ABlankOrMissingVersionFileCannotBeRead) {
    struct Case {
        std::string reply;
        std::string status;
    };
    const std::vector<Case> cases = {
        {"HTTP/1.0 200 OK\r\n\r\n", "200"},
        {"HTTP/1.0 200 OK\r\n\r\n \r\n\t \n", "200"},
        {"HTTP/1.0 404 Not Found\r\n\r\n<html>1.4.2 is not here</html>", "404"},
        {"HTTP/1.0 500 Oops\r\n\r\n1.4.2", "500"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        TestServer server(Serve(c.reply));
        EXPECT_EQ(UpdateCheckMessage("Quillet", "1.4.2", LocalSite(server)),
                  CouldNotAccess(c.status));
    }
}

TEST(UpdateCheck, AnUnreachableServerGivesStatusZero) {
    RefusingPort refusing;
    UpdateSite site;
    site.baseURL = "http://127.0.0.1:" + std::to_string(refusing.Port()) + "/";
    site.hostName = "updates.example";
    EXPECT_EQ(UpdateCheckMessage("Quillet", "1.4.2", site), CouldNotAccess("0"));
}

TEST(UpdateCheck, TheMakersSiteOutOfReachEndsWithinThreeSeconds) {
    Stopwatch watch;
    EXPECT_EQ(UpdateCheckMessage("Quillet", "1.0.0"),
              "Could not access the version file on www.brindlewood.example to check for the "
              "latest version (0).");
    EXPECT_LT(watch.ElapsedMs(), 3500);
}

TEST(UpdateCheck, AServerThatKeepsTheConnectionOpenIsReadWhenTheTimeOutStrikes) {
    TestServer server(ServeAndHold("HTTP/1.0 200 OK\r\n\r\n1.4.2\n"));
    UpdateSite site = LocalSite(server);
    site.timeoutSeconds = 1;
    Stopwatch watch;
    EXPECT_EQ(UpdateCheckMessage("Quillet", "1.4.2", site), kUpToDate);
    EXPECT_GE(watch.ElapsedMs(), 950);
}

TEST(UpdateCheck, HostileServersEndWithinTheBoundsAndTheCouldNotAccessMessage) {
    struct Case {
        std::string name;
        TestServer::Handler handler;
        std::string status;
        int64_t maxMs;
    };
    const std::vector<Case> cases = {
        {"header flood",
         [](ServerConnection& c) {
             c.ReadRequest();
             c.Send("HTTP/1.0 200 OK\r\n");
             c.SendForever("X: 1.4.2\r\n");
         },
         "0", 1500},
        {"endless body",
         [](ServerConnection& c) {
             c.ReadRequest();
             c.Send("HTTP/1.0 200 OK\r\n\r\n");
             c.SendForever("1.4.2 ");
         },
         "200", 1500},
        {"one byte a second",
         [](ServerConnection& c) {
             c.ReadRequest();
             c.Send("HTTP/1.0 200 OK\r\n\r\n");
             for (char b : std::string("1.4.2.1.1.1.1.1.1")) {
                 if (!c.Send(std::string(1, b)) || c.WaitForClientClose(1000)) break;
             }
         },
         "200", 2900},
        {"reset in the body",
         [](ServerConnection& c) {
             c.ReadRequest();
             c.Send("HTTP/1.0 200 OK\r\n\r\n1.4");
             c.Reset();
         },
         "200", 1500},
        {"garbage", Serve("\xff\xfe\0\r\n\r\n1.4.2"s), "0", 1500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestServer server(c.handler);
        UpdateSite site = LocalSite(server);
        // The real check allows 10 seconds; a shorter bound keeps the test quick.
        site.overallTimeoutMilliseconds = 2000;
        Stopwatch watch;
        std::string message = UpdateCheckMessage("Quillet", "1.4.2", site);
        EXPECT_LT(watch.ElapsedMs(), c.maxMs);
        EXPECT_EQ(message, CouldNotAccess(c.status));
    }
}
