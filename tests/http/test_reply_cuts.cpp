// Replies cut into reads in every way give one outcome: the seed corpus of the fuzz target,
// replayed, and the cases that the earliest-blank-line rule settles.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "httpsocket.h"
#include "reply_harness.h"

TEST(HttpReplyCuts, EveryCorpusReplyGivesTheSameOutcomeHoweverItIsCut) {
    const std::filesystem::path corpus = QUILLET_HTTP_CORPUS_DIR;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(corpus))
        if (entry.is_regular_file()) files.push_back(entry.path());
    ASSERT_GE(files.size(), 10u);
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        std::ifstream in(file, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(CheckCutsAgree(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), "");
    }
}

TEST(HttpReplyCuts, TheHeaderBlockEndsAtTheFirstBlankLineOfAnyStyle) {
    struct Case {
        std::string reply;
        std::string body;
        std::string header;
    };
    const std::vector<Case> cases = {
        // An LF header block whose body holds CR LF CR LF.
        {"HTTP/1.0 200 OK\nA: b\n\nbody\r\n\r\nmore", "body\r\n\r\nmore", "b"},
        // A CR header block whose body holds LF LF.
        {"HTTP/1.0 200 OK\rA: b\r\rx\n\ny", "x\n\ny", "b"},
        // A CR LF header block whose body holds LF LF and CR CR.
        {"HTTP/1.0 200 OK\r\nA: b\r\n\r\n\n\n\r\r", "\n\n\r\r", "b"},
    };
    for (const Case& c : cases) {
        for (const std::vector<size_t>& cuts :
             {std::vector<size_t>{}, std::vector<size_t>(c.reply.size(), 1),
              std::vector<size_t>{17, 3, 1, 2}}) {
            ReplyOutcome o = FeedReply(c.reply, cuts, false);
            SCOPED_TRACE(o.Describe());
            EXPECT_TRUE(o.complete);
            EXPECT_EQ(o.error, 0);
            EXPECT_EQ(o.status, 200);
            EXPECT_EQ(o.body, c.body);
            EXPECT_EQ(o.headerLines, "A: " + c.header);
        }
    }
}

TEST(HttpReplyCuts, TheBoundsHoldAtEveryCut) {
    const std::string longHeader =
        "HTTP/1.0 200 OK\r\nX: " + std::string(kHarnessMaxHeaderBytes, 'h') + "\r\n\r\nbody";
    const std::string longBody =
        "HTTP/1.0 200 OK\r\n\r\n" + std::string(kHarnessMaxBodyBytes + 10, 'b');
    for (const std::vector<size_t>& cuts : {std::vector<size_t>{}, std::vector<size_t>(2000, 1)}) {
        ReplyOutcome header = FeedReply(longHeader, cuts, false);
        EXPECT_EQ(header.error, HTTPSocket::kErrorHeaderTooLarge) << header.Describe();
        EXPECT_FALSE(header.hasHeaders);
        EXPECT_EQ(header.body, "");

        ReplyOutcome body = FeedReply(longBody, cuts, false);
        EXPECT_EQ(body.error, HTTPSocket::kErrorBodyTooLarge) << body.Describe();
        EXPECT_EQ(body.body, std::string(kHarnessMaxBodyBytes, 'b'));
        EXPECT_FALSE(body.complete);
    }
}
