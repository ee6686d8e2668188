#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "core/binarystream.h"
#include "core/dictionary.h"
#include "core/folderitem.h"
#include "core/ref.h"
#include "core/tcpsocket.h"
#include "internetheaders.h"
#include "soapsocket.h"

// A small HTTP/1.0 client: one request per connection, the end of the connection ends the
// reply. No redirects are followed and no transfer coding is undone.
//
// The blocking operations (with a time-out) wait for the reply in WaitForPage and raise no
// events but AuthenticationRequired. The non-blocking ones only start the request; the reply
// then comes through the events, which are raised while the socket is polled (Poll, or
// fw::PollAllSockets from an event loop).
class HTTPSocket : public fw::TCPSocket, public SOAPSocket {
public:
    // Error codes of the client besides the socket's own (see fw::TCPSocket), which tell why a
    // connection was not made or was reset.
    static constexpr int32_t kErrorTimedOut = -1;        // no progress within timeoutSeconds
    static constexpr int32_t kErrorDownloadFile = 1;     // the download file cannot be written
    static constexpr int32_t kErrorOverallTimeOut = -2;  // OverallTimeoutMilliseconds ran out
    static constexpr int32_t kErrorHeaderTooLarge = -3;  // header block over MaxHeaderBytes
    static constexpr int32_t kErrorBodyTooLarge = -4;    // body in memory over MaxBodyBytes

    HTTPSocket();

    // Blocking: they set timeoutSeconds to the time-out, run the request and wait for its end.
    std::string Get(const std::string& url, int32_t timeout) override;
    std::string Post(const std::string& url, int32_t timeout) override;
    bool Get(const std::string& url, const fw::Ref<fw::FolderItem>& file, int32_t timeout);
    bool Post(const std::string& url, const fw::Ref<fw::FolderItem>& file, int32_t timeout);
    fw::Ref<InternetHeaders> GetHeaders(const std::string& url, int32_t timeout);

    // Non-blocking: they start the request; the events tell the rest.
    void Get(const std::string& url);
    void Post(const std::string& url);
    void Get(const std::string& url, const fw::Ref<fw::FolderItem>& file);
    void Post(const std::string& url, const fw::Ref<fw::FolderItem>& file);
    void GetHeaders(const std::string& url);

    int32_t HTTPStatusCode() const { return _httpStatusCode; }
    int32_t ErrorCode() const override { return mErrorCode; }
    // The reply's headers; nil until they arrived, and nil when there were none.
    fw::Ref<InternetHeaders> PageHeaders() const;
    fw::Ref<InternetHeaders> GetRequestHeaders() override { return requestHeaders; }
    // A non-empty value replaces the header; an empty one deletes it.
    void SetRequestHeader(const std::string& name, const std::string& value);
    void ClearRequestHeaders();
    void SetPostContent(const std::string& content, const std::string& contentType) override;
    // The dictionary as form data for the next POST; nil sends no content.
    void SetFormData(const fw::Ref<fw::Dictionary>& form);
    // The entries as application/x-www-form-urlencoded text, in key order.
    static std::string EncodeFormData(const fw::Dictionary& form);

    fw::Ref<InternetHeaders> requestHeaders;
    int32_t DefaultPort = 80;
    std::string HTTPProxyAddress;
    int32_t HTTPProxyPort = 0;
    // Let the blocking wait run the application's event loop (fw::CallDoEventsHandler).
    bool Yield = false;
    bool synchronous = false;
    // Inactivity limit of the blocking wait; 0 or less means none.
    int32_t timeoutSeconds = 0;
    int32_t mErrorCode = 0;
    bool threadProtection = false;

    // Bounds against broken or hostile servers. A reply whose header block is longer than
    // MaxHeaderBytes fails with kErrorHeaderTooLarge. A body kept in memory (not a download)
    // stops at MaxBodyBytes and fails with kErrorBodyTooLarge, keeping the bytes up to the
    // bound. A blocking wait lasts OverallTimeoutMilliseconds at most, however often the
    // inactivity limit restarts, and then fails with kErrorOverallTimeOut. 0 or less: no bound.
    int32_t MaxHeaderBytes = 64 * 1024;
    int32_t MaxBodyBytes = 16 * 1024 * 1024;
    int32_t OverallTimeoutMilliseconds = 0;

protected:
    // The client's events, for a subclass to handle. All but AuthenticationRequired are raised
    // only when synchronous is false.
    virtual void PageReceived(const std::string& /*url*/, int32_t /*httpStatus*/,
                              const fw::Ref<InternetHeaders>& /*headers*/,
                              const std::string& /*content*/) {}
    virtual void ReceiveProgress(int32_t /*bytesReceived*/, int32_t /*totalBytes*/,
                                 const std::string& /*newData*/) {}
    virtual void Connected() {}
    virtual void DownloadComplete(const std::string& /*url*/, int32_t /*httpStatus*/,
                                  const fw::Ref<InternetHeaders>& /*headers*/,
                                  const fw::Ref<fw::FolderItem>& /*file*/) {}
    virtual void Error(int32_t /*code*/) {}
    virtual void HeadersReceived(const fw::Ref<InternetHeaders>& /*headers*/,
                                 int32_t /*httpStatus*/) {}
    // A reply with status 401 arrived. Fill in name and password and return true to send the
    // request again with them.
    virtual bool AuthenticationRequired(const fw::Ref<InternetHeaders>& /*headers*/,
                                        std::string& /*name*/, std::string& /*password*/) {
        return false;
    }

    // Waits until the page is complete or an error code is set.
    void WaitForPage();

    fw::Ref<InternetHeaders> _pageHeaders;
    std::string _server;
    std::string _path;
    int32_t _totalLength = 0;
    fw::Ref<fw::BinaryStream> _downloadStream;
    fw::Ref<fw::FolderItem> _downloadFile;
    std::string _pageBuffer;
    int32_t _currentLength = 0;
    bool _pageComplete = false;
    std::string _postContent;
    std::string _postContentType;
    std::string _httpAction;
    std::string _processingURL;
    bool _connectionValid = false;
    int32_t _httpStatusCode = 0;
    std::string _authenticationKey;

private:
    void Event_Connected() final;
    void Event_DataAvailable() final;
    void Event_Error() final;

    void ParseURL(const std::string& url);
    void StartRequest(std::string url, std::string action, fw::Ref<fw::FolderItem> file);
    bool PrepareDownload(const fw::Ref<fw::FolderItem>& file);
    void SendRequest();
    void HandleReply();
    void HandleBodyData(const std::string& data);
    void ParseHeaders(const std::string& block);
    bool Authenticate();
    void CompletePage();
    void SetErrorCode(int32_t code);
    void FailReply(int32_t code);
    std::string BlockingRequest(const std::string& url, const std::string& action, int32_t timeout);
    bool BlockingDownload(const std::string& url, const std::string& action,
                          const fw::Ref<fw::FolderItem>& file, int32_t timeout);

    // Bytes at the start of the unread data already known to hold no blank line, so that a
    // header block arriving in small pieces is scanned once, not once per piece.
    size_t headerScanned_ = 0;
    // Counts requests, so that handlers notice when a request started over beneath them.
    uint64_t requestSerial_ = 0;
};
