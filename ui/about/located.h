#pragma once

#include <string>

#include "platform/framework/core/exceptions.h"

namespace quillet {

// Runs a handler's body; a RuntimeException passing through gets the separator and the
// handler's location appended to its Message and goes on, so that the report of an
// unhandled one lists the handlers it went through, innermost first.
template <class F>
decltype(auto) Located(const char* location, F&& body, const std::string& separator = "\r") {
    try {
        return body();
    } catch (fw::RuntimeException& e) {
        e.Message += separator + location;
        throw;
    }
}

}  // namespace quillet
