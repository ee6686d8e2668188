#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What the HTTP client made of one reply.
struct ReplyOutcome {
    bool complete = false;
    int32_t error = 0;
    int32_t status = 0;
    std::string body;
    bool hasHeaders = false;
    std::string headerSource;
    std::string headerLines;
    int32_t totalLength = 0;
    int32_t currentLength = 0;

    bool operator==(const ReplyOutcome&) const = default;
    std::string Describe() const;
};

// Bounds the harness gives the client, small so that short inputs reach them.
constexpr int32_t kHarnessMaxHeaderBytes = 256;
constexpr int32_t kHarnessMaxBodyBytes = 1024;

// Feeds the reply to a real HTTP client through one end of a connected socket pair, in reads
// of the given sizes (what is left after them in one more read), then closes the other end.
ReplyOutcome FeedReply(std::string_view reply, const std::vector<size_t>& cuts, bool head);

// Reads a fuzz input: byte 0 chooses GET or HEAD (its lowest bit), byte 1 the longest read
// (0: one byte at a time), bytes 2 and 3 the seed of the read lengths; the rest is the reply.
// The reply goes through the client in one read, in 1-byte reads and in the chosen reads.
// Returns an empty text when all three outcomes agree, else what differed.
std::string CheckCutsAgree(const uint8_t* data, size_t size);
