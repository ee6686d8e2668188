#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "folderitem.h"
#include "ref.h"
#include "streams.h"
#include "uniquefd.h"

namespace fw {

// Bytes read from and written to a file, without any translation.
class BinaryStream : public Readable, public Writeable {
public:
    // Creates the file empty and opens it for writing. With overwrite false an existing file is
    // left alone and nil comes back; nil also when the file cannot be created.
    static Ref<BinaryStream> Create(const FolderItem& file, bool overwrite);
    // Opens an existing file for reading, or for reading and writing; nil when it cannot.
    static Ref<BinaryStream> Open(const FolderItem& file, bool readWrite = false);

    explicit BinaryStream(UniqueFd fd) : fd_(std::move(fd)) {}

    void Write(std::string_view data) override;
    void Flush() override;
    bool WriteError() const override { return writeError_; }
    std::string Read(int32_t count) override;
    // The read position has reached the end of the file.
    bool EndOfFile() const override;
    bool ReadError() const override { return readError_; }
    int64_t Length() const;
    void Close() { fd_.Reset(); }

private:
    UniqueFd fd_;
    bool writeError_ = false;
    bool readError_ = false;
};

}  // namespace fw
