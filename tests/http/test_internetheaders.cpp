// The header store on its own: numbered repeats, deletion with renumbering, parsing.

#include <gtest/gtest.h>

#include <string>

#include "internetheaders.h"
#include "test_server.h"

TEST(InternetHeaders, RepeatedNamesKeepEveryValueUnderNumberedKeys) {
    InternetHeaders h;
    h.AppendHeader("Set-Cookie", "a=1");
    h.AppendHeader("Vary", "Accept");
    h.AppendHeader("set-cookie", "b=2");
    h.AppendHeader("SET-COOKIE", "c=3");

    EXPECT_EQ(h.Count(), 4);
    EXPECT_EQ(h.NameCount("Set-Cookie"), 3);
    EXPECT_EQ(h.NameCount("Vary"), 1);
    EXPECT_EQ(h.NameCount("Expires"), 0);
    EXPECT_EQ(h.Value("Set-Cookie"), "a=1");
    EXPECT_EQ(h.Value("set-cookie", 1), "b=2");
    EXPECT_EQ(h.Value("Set-Cookie", 2), "c=3");
    EXPECT_EQ(h.Value("Set-Cookie", 3), "");
    EXPECT_EQ(h.CommaSeparatedValues("Set-Cookie"), "a=1, b=2, c=3");
    // A further value keeps the spelling of the name it was appended with.
    EXPECT_EQ(h.Name(2), "set-cookie");
    EXPECT_EQ(h.Value(2), "b=2");
    EXPECT_EQ(h.Value(4), "");
    EXPECT_EQ(h.FormatHTTPHeaders(),
              "Set-Cookie: a=1\r\nVary: Accept\r\nset-cookie: b=2\r\nSET-COOKIE: c=3");
    EXPECT_EQ(h.Source(), h.FormatHTTPHeaders());
}

TEST(InternetHeaders, DeletingOneValueRenumbersTheLaterOnes) {
    InternetHeaders h;
    for (const char* v : {"v0", "v1", "v2", "v3"}) h.AppendHeader("X-Item", v);

    h.Delete("X-Item", 1);
    EXPECT_EQ(h.NameCount("X-Item"), 3);
    EXPECT_EQ(h.CommaSeparatedValues("X-Item"), "v0, v2, v3");
    EXPECT_EQ(h.Value("X-Item", 1), "v2");
    EXPECT_EQ(h.Value("X-Item", 2), "v3");
    EXPECT_EQ(h.Value("X-Item", 3), "");

    h.Delete("X-Item", 0);
    EXPECT_EQ(h.CommaSeparatedValues("X-Item"), "v2, v3");
    h.Delete("X-Item", 7);
    EXPECT_EQ(h.NameCount("X-Item"), 2);

    // Appending after a deletion fills the first free number again.
    h.AppendHeader("X-Item", "v4");
    EXPECT_EQ(h.CommaSeparatedValues("X-Item"), "v2, v3, v4");

    h.Delete("x-item");
    EXPECT_EQ(h.NameCount("X-Item"), 0);
    EXPECT_EQ(h.Count(), 0);
}

TEST(InternetHeaders, SetHeaderReplacesAllValuesOrOneNumberedValue) {
    InternetHeaders h;
    h.AppendHeader("Accept", "*/*");
    h.AppendHeader("Host", "a");
    h.AppendHeader("Accept", "text/plain");
    h.SetHeader("Accept", "image/png");
    EXPECT_EQ(h.NameCount("Accept"), 1);
    EXPECT_EQ(h.Value("Accept"), "image/png");

    h.SetHeader("host", "b");
    EXPECT_EQ(h.FormatHTTPHeaders(), "Host: b\r\nAccept: image/png");

    h.AppendHeader("Via", "1");
    h.AppendHeader("Via", "2");
    h.SetHeader("Via", "two", 1);
    h.SetHeader("Via", "three", 2);
    EXPECT_EQ(h.CommaSeparatedValues("Via"), "1, two, three");

    h.DeleteAllHeaders();
    EXPECT_EQ(h.Count(), 0);
}

TEST(InternetHeaders, ParsingJoinsFoldedLinesAndSkipsLinesWithoutAColon) {
    for (const std::string eol : {"\r\n", "\n", "\r"}) {
        SCOPED_TRACE(eol == "\r\n" ? "CR LF" : eol == "\n" ? "LF" : "CR");
        const std::string block = "HTTP/1.0 200 OK" + eol + "X-Long: first" + eol + " second" +
                                  eol + "\tthird" + eol + "Empty:" + eol + "Spaced:   value  " +
                                  eol + "no colon here" + eol + "Time: 12:30:00";
        InternetHeaders h;
        h.ParseHeaders(block);
        EXPECT_EQ(h.Count(), 4);
        EXPECT_EQ(h.Value("X-Long"), "first second third");
        EXPECT_EQ(h.Value("Empty"), "");
        EXPECT_EQ(h.Value("Spaced"), "value  ");
        EXPECT_EQ(h.Value("Time"), "12:30:00");
        EXPECT_EQ(h.Source(), block);
    }
}

TEST(InternetHeaders, LineEndIsCrLfThenLfThenCr) {
    EXPECT_EQ(InternetHeaders::DetermineEOLCharacter("a\nb\r\nc"), "\r\n");
    EXPECT_EQ(InternetHeaders::DetermineEOLCharacter("a\rb\nc"), "\n");
    EXPECT_EQ(InternetHeaders::DetermineEOLCharacter("a\rb"), "\r");
    EXPECT_EQ(InternetHeaders::DetermineEOLCharacter("ab"), "\r\n");
}

TEST(InternetHeaders, ThousandsOfRepeatsOfOneNameParseQuickly) {
    std::string block = "HTTP/1.0 200 OK";
    for (int i = 0; i < 50000; ++i) block += "\r\nX: " + std::to_string(i);
    InternetHeaders h;
    Stopwatch watch;
    h.ParseHeaders(block);
    // Each repeat finds its number without counting the earlier ones again; counting them
    // would take over a billion look-ups here.
    EXPECT_LT(watch.ElapsedMs(), 10000);
    EXPECT_EQ(h.Count(), 50000);
    EXPECT_EQ(h.Value("X", 49999), "49999");
    EXPECT_EQ(h.NameCount("X"), 50000);
}
