#include "httpsocket.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "core/doevents.h"
#include "core/text.h"

namespace {

// The leading decimal number of a text as a 32-bit integer, 0 when it has none; values
// beyond the range stop at its ends.
int32_t IntegerValue(std::string_view text) {
    double v = std::trunc(fw::Val(text));
    if (!std::isfinite(v)) return 0;
    v = std::clamp(v, static_cast<double>(std::numeric_limits<int32_t>::min()),
                   static_cast<double>(std::numeric_limits<int32_t>::max()));
    return static_cast<int32_t>(v);
}

int32_t AddSaturated(int32_t a, size_t b) {
    int64_t sum = static_cast<int64_t>(a) + static_cast<int64_t>(std::min<size_t>(b, INT32_MAX));
    return static_cast<int32_t>(std::min<int64_t>(sum, INT32_MAX));
}

struct BlankLine {
    size_t start;      // length of the header block before it
    size_t eolLength;  // bytes of one of its line ends
};

// The first blank line of a header block, in any of the three line-end styles, looking at
// positions from `from` on. Taking the earliest one, whichever its style, makes the result
// independent of how the reply was cut into reads.
std::optional<BlankLine> FindBlankLine(std::string_view data, size_t from) {
    for (size_t i = from; i + 1 < data.size(); ++i) {
        char c = data[i];
        char d = data[i + 1];
        if (c == '\n' && d == '\n') return BlankLine{i, 1};
        if (c == '\r' && d == '\r') return BlankLine{i, 1};
        if (c == '\r' && d == '\n' && i + 3 < data.size() && data[i + 2] == '\r' &&
            data[i + 3] == '\n')
            return BlankLine{i, 2};
    }
    return std::nullopt;
}

fw::Ref<InternetHeaders> DefaultRequestHeaders() {
    auto headers = fw::New<InternetHeaders>();
    headers->SetHeader("Accept", "*/*");
    headers->SetHeader("Accept-Language", "en");
    return headers;
}

// Milliseconds until Ticks() passes the deadline, at least 1.
int32_t MillisecondsUntilTick(int64_t deadline) {
    int64_t ticks = deadline - fw::Ticks() + 1;
    int64_t ms = (ticks * 1000 + 59) / 60;
    return static_cast<int32_t>(std::clamp<int64_t>(ms, 1, INT32_MAX));
}

// Makes room for `needed` bytes of a body bounded by `bound` (0 or less: none). A string holds
// its old and its new buffer at once while it grows, and doubling could leave a body at the
// bound with up to twice the bound; so once doubling would take the body past half the bound, it
// takes the whole bound in one step, and never holds more than one and a half times the bound.
void ReserveBody(std::string& body, size_t needed, int32_t bound) {
    if (bound <= 0 || needed <= body.capacity()) return;
    if (std::max(needed, 2 * body.capacity()) > static_cast<size_t>(bound) / 2)
        body.reserve(std::max(needed, static_cast<size_t>(bound)));
}

// How long a blocking wait with Yield set waits for the socket before it runs the event loop.
constexpr int32_t kYieldSliceMilliseconds = 10;

}  // namespace

HTTPSocket::HTTPSocket() : requestHeaders(DefaultRequestHeaders()) {}

// --- Requests ---------------------------------------------------------------------------

void HTTPSocket::ParseURL(const std::string& url) {
    std::string rest = url;
    int32_t scheme = fw::InStr(url, "://");
    if (scheme > 0) rest = fw::Mid(url, scheme + 3);
    int32_t slash = fw::InStr(rest, "/");
    if (slash > 0) {
        _server = fw::Left(rest, slash - 1);
        _path = fw::Mid(rest, slash);
    } else {
        _server = rest;
        _path.clear();
    }
    if (_path.empty()) _path = "/";
    int32_t port = IntegerValue(fw::NthField(_server, ":", 2));
    Port = port == 0 ? DefaultPort : port;
    Address = fw::NthField(_server, ":", 1);
}

bool HTTPSocket::PrepareDownload(const fw::Ref<fw::FolderItem>& file) {
    if (_downloadStream) _downloadStream->Close();
    _downloadStream = nullptr;
    _downloadFile = nullptr;
    if (!file) return true;
    if (file->Exists() && file->Directory()) return false;
    fw::Ref<fw::BinaryStream> stream = fw::BinaryStream::Create(*file, true);
    if (!stream) return false;
    _downloadFile = file;
    _downloadStream = stream;
    return true;
}

void HTTPSocket::StartRequest(std::string url, std::string action, fw::Ref<fw::FolderItem> file) {
    ++requestSerial_;
    mErrorCode = 0;
    ParseURL(url);
    _processingURL = url;
    if (!PrepareDownload(file)) {
        SetErrorCode(kErrorDownloadFile);
        return;
    }
    if (!HTTPProxyAddress.empty()) {
        Address = HTTPProxyAddress;
        Port = HTTPProxyPort == 0 ? DefaultPort : HTTPProxyPort;
    }
    _httpAction = action;
    Close();
    Purge();
    headerScanned_ = 0;
    Connect();
}

void HTTPSocket::SendRequest() {
    if (!requestHeaders) requestHeaders = DefaultRequestHeaders();
    requestHeaders->SetHeader("Host", _server);
    bool authenticating = !_authenticationKey.empty();
    if (authenticating) requestHeaders->SetHeader("Authorization", _authenticationKey);
    if (_httpAction != "POST") {
        _postContent.clear();
        _postContentType.clear();
        requestHeaders->Delete("Content-type");
        requestHeaders->Delete("Content-length");
    } else {
        requestHeaders->SetHeader("Content-type", _postContentType);
        requestHeaders->SetHeader("Content-length", fw::Str(fw::Len(_postContent)));
    }
    const std::string& target = HTTPProxyAddress.empty() ? _path : _processingURL;
    std::string request = _httpAction + " " + target + " HTTP/1.0\r\n" +
                          requestHeaders->FormatHTTPHeaders() + "\r\n\r\n" + _postContent;
    // The credentials go out with this one request only.
    if (authenticating) {
        requestHeaders->Delete("Authorization");
        _authenticationKey.clear();
    }
    Write(request);
}

std::string HTTPSocket::BlockingRequest(const std::string& url, const std::string& action,
                                        int32_t timeout) {
    timeoutSeconds = timeout;
    synchronous = true;
    StartRequest(url, action, nullptr);
    WaitForPage();
    // Moved, not copied, so that a body at its bound is held once. A blocking request raises no
    // PageReceived, and the next request starts the buffer afresh.
    return std::move(_pageBuffer);
}

bool HTTPSocket::BlockingDownload(const std::string& url, const std::string& action,
                                  const fw::Ref<fw::FolderItem>& file, int32_t timeout) {
    timeoutSeconds = timeout;
    synchronous = true;
    StartRequest(url, action, file);
    // Nothing was sent, so there is nothing to wait for.
    if (mErrorCode == kErrorDownloadFile) return false;
    WaitForPage();
    return mErrorCode == 0;
}

std::string HTTPSocket::Get(const std::string& url, int32_t timeout) {
    return BlockingRequest(url, "GET", timeout);
}

std::string HTTPSocket::Post(const std::string& url, int32_t timeout) {
    return BlockingRequest(url, "POST", timeout);
}

bool HTTPSocket::Get(const std::string& url, const fw::Ref<fw::FolderItem>& file, int32_t timeout) {
    return BlockingDownload(url, "GET", file, timeout);
}

bool HTTPSocket::Post(const std::string& url, const fw::Ref<fw::FolderItem>& file,
                      int32_t timeout) {
    return BlockingDownload(url, "POST", file, timeout);
}

fw::Ref<InternetHeaders> HTTPSocket::GetHeaders(const std::string& url, int32_t timeout) {
    BlockingRequest(url, "HEAD", timeout);
    return _pageHeaders;
}

void HTTPSocket::Get(const std::string& url) {
    synchronous = false;
    StartRequest(url, "GET", nullptr);
}

void HTTPSocket::Post(const std::string& url) {
    synchronous = false;
    StartRequest(url, "POST", nullptr);
}

void HTTPSocket::Get(const std::string& url, const fw::Ref<fw::FolderItem>& file) {
    synchronous = false;
    StartRequest(url, "GET", file);
}

void HTTPSocket::Post(const std::string& url, const fw::Ref<fw::FolderItem>& file) {
    synchronous = false;
    StartRequest(url, "POST", file);
}

void HTTPSocket::GetHeaders(const std::string& url) {
    synchronous = false;
    StartRequest(url, "HEAD", nullptr);
}

// --- Properties and helpers -------------------------------------------------------------

fw::Ref<InternetHeaders> HTTPSocket::PageHeaders() const {
    if (!_pageHeaders || _pageHeaders->Count() == 0) return nullptr;
    return _pageHeaders;
}

void HTTPSocket::SetRequestHeader(const std::string& name, const std::string& value) {
    if (!requestHeaders) requestHeaders = DefaultRequestHeaders();
    if (value.empty()) {
        requestHeaders->Delete(name);
    } else {
        requestHeaders->SetHeader(name, value);
    }
}

void HTTPSocket::ClearRequestHeaders() {
    if (!requestHeaders) requestHeaders = DefaultRequestHeaders();
    requestHeaders->DeleteAllHeaders();
}

void HTTPSocket::SetPostContent(const std::string& content, const std::string& contentType) {
    _postContent = content;
    _postContentType = contentType;
}

void HTTPSocket::SetFormData(const fw::Ref<fw::Dictionary>& form) {
    if (!form) {
        _postContent.clear();
        _postContentType.clear();
        return;
    }
    _postContent = EncodeFormData(*form);
    _postContentType = "application/x-www-form-urlencoded";
}

std::string HTTPSocket::EncodeFormData(const fw::Dictionary& form) {
    // The percent sign goes first, so that the signs put in later stay as they are.
    static const unsigned char kEscaped[] = {0x25, 0x26, 0x3D, 0x2C, 0x2F, 0x5C, 0x5D, 0x5B,
                                             0x7B, 0x7D, 0x60, 0x7E, 0x2D, 0x5F, 0x28, 0x29,
                                             0x2A, 0x5E, 0x24, 0x23, 0x21, 0x2B, 0x0D, 0x0A};
    auto encode = [](std::string text) {
        for (unsigned char c : kEscaped)
            text = fw::ReplaceAll(text, std::string(1, static_cast<char>(c)),
                                  "%" + fw::Right("00" + fw::Hex(c), 2));
        return fw::ReplaceAll(text, " ", "+");
    };
    std::string out;
    for (int32_t i = 0; i < form.Count(); ++i)
        out += "&" + encode(form.Key(i)) + "=" + encode(form.ValueAt(i).StringValue());
    return fw::Mid(out, 2);
}

void HTTPSocket::SetErrorCode(int32_t code) {
    mErrorCode = code;
    if (!synchronous) Error(code);
}

// Ends a reply that broke a bound: the connection goes, and so do the bytes still unread.
void HTTPSocket::FailReply(int32_t code) {
    Close();
    Purge();
    SetErrorCode(code);
}

// --- Reply ------------------------------------------------------------------------------

void HTTPSocket::Event_Connected() {
    _connectionValid = true;
    _pageBuffer.clear();
    _pageHeaders = nullptr;
    _httpStatusCode = 0;
    _totalLength = 0;
    _currentLength = 0;
    _pageComplete = false;
    headerScanned_ = 0;
    if (!synchronous) Connected();
    if (_httpAction.empty()) _httpAction = "GET";
    SendRequest();
}

void HTTPSocket::Event_DataAvailable() {
    HandleReply();
}

void HTTPSocket::HandleReply() {
    if (threadProtection) return;
    threadProtection = true;
    struct Release {
        bool& flag;
        ~Release() { flag = false; }
    } release{threadProtection};

    if (!_pageHeaders) {
        const std::string& unread = Lookahead();
        if (headerScanned_ > unread.size()) headerScanned_ = 0;
        // A blank line not found yet starts at most 3 bytes before the end of what was
        // scanned, so the scan resumes there.
        std::optional<BlankLine> blank =
            FindBlankLine(unread, headerScanned_ > 3 ? headerScanned_ - 3 : 0);
        const size_t limit = MaxHeaderBytes > 0 ? static_cast<size_t>(MaxHeaderBytes)
                                                : std::numeric_limits<size_t>::max() - 3;
        if (!blank) {
            headerScanned_ = unread.size();
            // Any blank line still to come starts too late for the bound.
            if (unread.size() > limit + 3) FailReply(kErrorHeaderTooLarge);
            return;
        }
        if (blank->start > limit) return FailReply(kErrorHeaderTooLarge);
        headerScanned_ = 0;
        ParseHeaders(Read(static_cast<int32_t>(blank->start)));
        if (_httpStatusCode == 401 && Authenticate()) {
            StartRequest(_processingURL, _httpAction, _downloadFile);
            return;
        }
        if (!synchronous) HeadersReceived(_pageHeaders, _httpStatusCode);
        Read(static_cast<int32_t>(2 * blank->eolLength));
    }
    HandleBodyData(ReadAll());
}

void HTTPSocket::ParseHeaders(const std::string& block) {
    std::string eol = InternetHeaders::DetermineEOLCharacter(block);
    _pageHeaders = fw::New<InternetHeaders>();
    std::string statusLine = fw::NthField(block, eol, 1);
    _httpStatusCode = IntegerValue(fw::NthField(statusLine, " ", 2));
    _pageHeaders->ParseHeaders(block);
    if (_pageHeaders->NameCount("Content-length") > 0)
        _totalLength = IntegerValue(_pageHeaders->Value("Content-length"));
}

bool HTTPSocket::Authenticate() {
    std::string name;
    std::string password;
    if (!AuthenticationRequired(_pageHeaders, name, password)) return false;
    _authenticationKey = "Basic " + fw::EncodeBase64(name + ":" + password, 76);
    return true;
}

void HTTPSocket::HandleBodyData(const std::string& data) {
    if (_httpAction == "HEAD") return;
    if (_downloadStream) {
        _currentLength = AddSaturated(_currentLength, data.size());
        _downloadStream->Write(data);
    } else if (MaxBodyBytes > 0 &&
               _pageBuffer.size() + data.size() > static_cast<size_t>(MaxBodyBytes)) {
        size_t room = static_cast<size_t>(MaxBodyBytes) - _pageBuffer.size();
        ReserveBody(_pageBuffer, _pageBuffer.size() + room, MaxBodyBytes);
        _pageBuffer.append(data, 0, room);
        _currentLength = AddSaturated(_currentLength, room);
        return FailReply(kErrorBodyTooLarge);
    } else {
        _currentLength = AddSaturated(_currentLength, data.size());
        ReserveBody(_pageBuffer, _pageBuffer.size() + data.size(), MaxBodyBytes);
        _pageBuffer += data;
    }
    if (!synchronous) ReceiveProgress(_currentLength, _totalLength, data);
    if (_httpStatusCode == 401 && !IsConnected()) CompletePage();
}

void HTTPSocket::Event_Error() {
    const bool wasValid = _connectionValid;
    _connectionValid = false;
    if (!wasValid) return SetErrorCode(LastErrorCode());

    const uint64_t request = requestSerial_;
    const bool reset = LastErrorCode() == kErrorConnectionReset;
    if (BytesAvailable() > 0) {
        // Read as on DataAvailable; this end of the connection does not complete the page.
        HandleReply();
    } else if (!reset) {
        return CompletePage();
    }
    // A reset is no end of a reply: what came so far stays, with the socket's error code.
    if (reset && request == requestSerial_ && !_pageComplete && mErrorCode == 0)
        SetErrorCode(kErrorConnectionReset);
}

void HTTPSocket::CompletePage() {
    if (_pageComplete) return;
    _pageComplete = true;
    if (_downloadStream) _downloadStream->Close();
    _downloadStream = nullptr;
    if (_httpAction == "HEAD" || synchronous) return;
    if (_downloadFile) {
        DownloadComplete(_processingURL, _httpStatusCode, _pageHeaders, _downloadFile);
    } else {
        PageReceived(_processingURL, _httpStatusCode, _pageHeaders, _pageBuffer);
    }
}

// --- Blocking wait ----------------------------------------------------------------------

void HTTPSocket::WaitForPage() {
    using Clock = std::chrono::steady_clock;
    _pageComplete = false;
    mErrorCode = 0;
    int64_t deadline = fw::Ticks() + static_cast<int64_t>(timeoutSeconds) * 60;
    const bool bounded = OverallTimeoutMilliseconds > 0;
    const Clock::time_point overallEnd =
        Clock::now() + std::chrono::milliseconds(bounded ? OverallTimeoutMilliseconds : 0);
    bool connectionSeen = false;
    size_t lengthSeen = 0;

    while (!_pageComplete && mErrorCode == 0) {
        Poll();
        if (Yield) fw::CallDoEventsHandler(-1);
        // Any change of the connection or of the body restarts the inactivity limit. Both are
        // taken in together: the first bytes of the body may come in the poll that connected.
        if (_connectionValid != connectionSeen || _pageBuffer.size() != lengthSeen) {
            connectionSeen = _connectionValid;
            lengthSeen = _pageBuffer.size();
            deadline = fw::Ticks() + static_cast<int64_t>(timeoutSeconds) * 60;
        }
        if (timeoutSeconds > 0 && deadline < fw::Ticks()) {
            Close();
            SetErrorCode(kErrorTimedOut);
            break;
        }
        if (_pageComplete || mErrorCode != 0) break;
        if (bounded && Clock::now() >= overallEnd) {
            Close();
            SetErrorCode(kErrorOverallTimeOut);
            break;
        }

        // Block until the socket has news or the nearer limit is reached.
        int32_t wait = timeoutSeconds > 0 ? MillisecondsUntilTick(deadline) : -1;
        if (bounded) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(overallEnd - Clock::now());
            int32_t ms = static_cast<int32_t>(std::max<int64_t>(left.count(), 0));
            wait = wait < 0 ? ms : std::min(wait, ms);
        }
        if (Yield)
            wait = wait < 0 ? kYieldSliceMilliseconds : std::min(wait, kYieldSliceMilliseconds);
        WaitForActivity(wait);
    }
}
