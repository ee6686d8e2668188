#pragma once

#include <cstdint>
#include <string>

#include "core/ref.h"
#include "internetheaders.h"

// What a SOAP client needs of its transport: a request body, blocking POST and GET, the
// request headers and the outcome.
class SOAPSocket {
public:
    virtual ~SOAPSocket() = default;
    virtual void SetPostContent(const std::string& content, const std::string& contentType) = 0;
    virtual std::string Post(const std::string& url, int32_t timeout) = 0;
    virtual int32_t ErrorCode() const = 0;
    virtual std::string Get(const std::string& url, int32_t timeout) = 0;
    virtual fw::Ref<InternetHeaders> GetRequestHeaders() = 0;
};
