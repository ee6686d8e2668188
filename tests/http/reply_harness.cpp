#include "reply_harness.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "core/uniquefd.h"
#include "httpsocket.h"

namespace {

// A client whose connection is one end of a socket pair instead of a connection it makes.
class PairClient : public HTTPSocket {
public:
    fw::UniqueFd pending;

    void Connect() override { Adopt(std::move(pending)); }

    ReplyOutcome Outcome() const {
        ReplyOutcome o;
        o.complete = _pageComplete;
        o.error = mErrorCode;
        o.status = _httpStatusCode;
        o.body = _pageBuffer;
        o.hasHeaders = !_pageHeaders.IsNil();
        if (o.hasHeaders) {
            o.headerSource = _pageHeaders->Source();
            o.headerLines = _pageHeaders->FormatHTTPHeaders();
        }
        o.totalLength = _totalLength;
        o.currentLength = _currentLength;
        return o;
    }
};

// Sends all bytes to the client, letting it read whenever the pair's buffer is full; false
// when the client has closed its end.
bool SendAll(const fw::UniqueFd& peer, PairClient& client, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::send(peer.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            client.Poll();
            if (!client.IsConnected()) return false;
        } else if (!(n < 0 && errno == EINTR)) {
            return false;
        }
    }
    return true;
}

// Reads what the client sent. A socket pair closed with unread bytes resets the other end,
// and the harness wants a normal close.
void Drain(const fw::UniqueFd& peer) {
    char buffer[4096];
    while (::recv(peer.Get(), buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
    }
}

std::string Escaped(std::string_view text) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += kDigits[c >> 4];
            out += kDigits[c & 15];
        }
    }
    return out;
}

}  // namespace

std::string ReplyOutcome::Describe() const {
    return "complete=" + std::to_string(complete) + " error=" + std::to_string(error) +
           " status=" + std::to_string(status) + " body=\"" + Escaped(body) +
           "\" headers=" + (hasHeaders ? "\"" + Escaped(headerSource) + "\"" : "nil") +
           " lines=\"" + Escaped(headerLines) + "\" total=" + std::to_string(totalLength) +
           " current=" + std::to_string(currentLength);
}

ReplyOutcome FeedReply(std::string_view reply, const std::vector<size_t>& cuts, bool head) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return {};
    fw::UniqueFd peer(pair[1]);
    PairClient client;
    client.pending.Reset(pair[0]);
    client.MaxHeaderBytes = kHarnessMaxHeaderBytes;
    client.MaxBodyBytes = kHarnessMaxBodyBytes;
    if (head) {
        client.GetHeaders("http://fuzz.example/");
    } else {
        client.Get("http://fuzz.example/");
    }
    // Connected: the request goes into the pair.
    client.Poll();
    Drain(peer);

    size_t at = 0;
    bool open = true;
    for (size_t cut : cuts) {
        if (at >= reply.size() || !open) break;
        size_t n = std::min(cut, reply.size() - at);
        open = SendAll(peer, client, reply.substr(at, n));
        client.Poll();
        at += n;
    }
    if (open && at < reply.size()) {
        SendAll(peer, client, reply.substr(at));
        client.Poll();
    }
    Drain(peer);
    peer.Reset();
    // The close, and anything a full buffer held back before it.
    while (client.IsConnected()) {
        client.WaitForActivity(1000);
        client.Poll();
    }
    return client.Outcome();
}

std::string CheckCutsAgree(const uint8_t* data, size_t size) {
    if (size < 4) return {};
    const bool head = data[0] & 1;
    const size_t longest = data[1];
    uint32_t seed = (static_cast<uint32_t>(data[2]) << 8 | data[3]) * 2654435761u + 1;
    std::string_view reply(reinterpret_cast<const char*>(data + 4), size - 4);

    std::vector<size_t> ones(reply.size(), 1);
    std::vector<size_t> chosen;
    for (size_t total = 0; total < reply.size();) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        size_t n = longest == 0 ? 1 : 1 + seed % longest;
        chosen.push_back(n);
        total += n;
    }

    ReplyOutcome whole = FeedReply(reply, {}, head);
    ReplyOutcome bytewise = FeedReply(reply, ones, head);
    ReplyOutcome cut = FeedReply(reply, chosen, head);
    if (whole == bytewise && whole == cut) return {};
    return "one read:    " + whole.Describe() + "\n1-byte reads: " + bytewise.Describe() +
           "\nchosen reads: " + cut.Describe();
}
