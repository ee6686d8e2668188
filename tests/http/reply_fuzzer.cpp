// libFuzzer target over the HTTP client's reply path: a reply gives the same outcome however it
// is cut into reads. Input: bit 0 of byte 0 asks with HEAD instead of GET, byte 1 is the longest
// read (0: one byte each), bytes 2 and 3 seed the read lengths; the rest is the reply.

#include <sys/socket.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>

#include "core/uniquefd.h"
#include "httpsocket.h"

namespace {

// A client whose connection is one end of a socket pair.
class PairClient : public HTTPSocket {
public:
    fw::UniqueFd end;

    void Connect() override { Adopt(std::move(end)); }

    std::string Outcome() const {
        return std::to_string(_pageComplete) + " " + std::to_string(mErrorCode) + " " +
               std::to_string(_httpStatusCode) + "\n" +
               (_pageHeaders ? _pageHeaders->Source() : "nil") + "\n" + _pageBuffer;
    }
};

// Sends the reply in reads of 1 to `longest` bytes (0: all at once), their lengths drawn from
// the seed, then closes. The bounds are small, so that short replies reach them.
std::string Feed(std::string_view reply, bool head, size_t longest, unsigned seed) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) std::abort();
    fw::UniqueFd server(pair[1]);
    PairClient client;
    client.end.Reset(pair[0]);
    client.MaxHeaderBytes = 256;
    client.MaxBodyBytes = 1024;
    head ? client.GetHeaders("http://fuzz.example/") : client.Get("http://fuzz.example/");
    client.Poll();
    // The request is read, because a socket pair closed with unread bytes resets the other end.
    char request[4096];
    while (::recv(server.Get(), request, sizeof request, MSG_DONTWAIT) > 0) {
    }
    std::minstd_rand random(seed);
    while (!reply.empty() && client.IsConnected()) {
        size_t length = longest == 0 ? reply.size() : 1 + random() % longest;
        ssize_t n = ::send(server.Get(), reply.data(), std::min(length, reply.size()),
                           MSG_DONTWAIT | MSG_NOSIGNAL);
        reply.remove_prefix(n > 0 ? static_cast<size_t>(n) : 0);
        client.Poll();
    }
    server.Reset();
    while (client.IsConnected()) {
        client.WaitForActivity(1000);
        client.Poll();
    }
    return client.Outcome();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const std::string_view reply(reinterpret_cast<const char*>(data + 4), size - 4);
    const bool head = data[0] & 1;
    const unsigned seed = data[2] << 8 | data[3];
    const std::string whole = Feed(reply, head, 0, seed);
    for (size_t longest : {size_t{1}, std::max<size_t>(data[1], 1)}) {
        const std::string cut = Feed(reply, head, longest, seed);
        if (cut == whole) continue;
        std::fprintf(stderr, "the outcome depends on the reads:\n%s\n---\n%s\n", whole.c_str(),
                     cut.c_str());
        std::abort();
    }
    return 0;
}
