#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fw {

// What can be read from: sockets and files.
class Readable {
public:
    virtual ~Readable() = default;
    // Up to count bytes; fewer (or none) when fewer are there.
    virtual std::string Read(int32_t count) = 0;
    // Nothing is left to read and nothing more will come.
    virtual bool EndOfFile() const = 0;
    virtual bool ReadError() const = 0;
};

// What can be written to: sockets and files.
class Writeable {
public:
    virtual ~Writeable() = default;
    virtual void Write(std::string_view data) = 0;
    virtual void Flush() = 0;
    virtual bool WriteError() const = 0;
};

}  // namespace fw
