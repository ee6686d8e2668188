#pragma once

#include <string>
#include <vector>

#include "core/text.h"
#include "httpsocket.h"
#include "test_server.h"

// A handler that reads the request, sends the reply and closes normally.
inline TestServer::Handler Serve(std::string reply) {
    return [reply](ServerConnection& c) {
        c.ReadRequest();
        c.Send(reply);
    };
}

// A handler that reads the request, sends the reply and keeps the connection open until the
// client closes it.
inline TestServer::Handler ServeAndHold(std::string reply) {
    return [reply](ServerConnection& c) {
        c.ReadRequest();
        c.Send(reply);
        c.WaitForClientClose(20000);
    };
}

// An HTTP client that records the events it raises and shows some of its inner state.
class RecordingClient : public HTTPSocket {
public:
    std::vector<std::string> events;
    std::string progressData;
    std::string pageReceivedBody;
    std::string pageReceivedURL;
    fw::Ref<InternetHeaders> pageReceivedHeaders;
    fw::Ref<fw::FolderItem> downloadedFile;
    int32_t eventStatus = -99;
    // Credentials handed out on a 401; none when the user name is empty.
    std::string user;
    std::string password;
    int authenticationRequests = 0;

    const std::string& PageBuffer() const { return _pageBuffer; }
    bool PageComplete() const { return _pageComplete; }
    int32_t TotalLength() const { return _totalLength; }
    int32_t CurrentLength() const { return _currentLength; }

    bool Saw(const std::string& event) const {
        for (const auto& e : events)
            if (e == event) return true;
        return false;
    }

protected:
    void PageReceived(const std::string& url, int32_t status,
                      const fw::Ref<InternetHeaders>& headers,
                      const std::string& content) override {
        events.push_back("PageReceived");
        pageReceivedURL = url;
        eventStatus = status;
        pageReceivedHeaders = headers;
        pageReceivedBody = content;
    }
    void ReceiveProgress(int32_t, int32_t, const std::string& newData) override {
        if (events.empty() || events.back() != "ReceiveProgress")
            events.push_back("ReceiveProgress");
        progressData += newData;
    }
    void Connected() override { events.push_back("Connected"); }
    void DownloadComplete(const std::string& url, int32_t status,
                          const fw::Ref<InternetHeaders>& headers,
                          const fw::Ref<fw::FolderItem>& file) override {
        events.push_back("DownloadComplete");
        pageReceivedURL = url;
        eventStatus = status;
        pageReceivedHeaders = headers;
        downloadedFile = file;
    }
    void Error(int32_t code) override { events.push_back("Error " + fw::Str(code)); }
    void HeadersReceived(const fw::Ref<InternetHeaders>&, int32_t status) override {
        events.push_back("HeadersReceived " + fw::Str(status));
    }
    bool AuthenticationRequired(const fw::Ref<InternetHeaders>&, std::string& name,
                                std::string& pass) override {
        ++authenticationRequests;
        if (user.empty()) return false;
        name = user;
        pass = password;
        return true;
    }
};
