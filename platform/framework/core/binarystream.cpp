#include "binarystream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace fw {

Ref<BinaryStream> BinaryStream::Create(const FolderItem& file, bool overwrite) {
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL);
    UniqueFd fd(::open(file.NativePath().c_str(), flags, 0666));
    if (!fd) return nullptr;
    return New<BinaryStream>(std::move(fd));
}

Ref<BinaryStream> BinaryStream::Open(const FolderItem& file, bool readWrite) {
    UniqueFd fd(::open(file.NativePath().c_str(), (readWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC));
    if (!fd || file.Directory()) return nullptr;
    return New<BinaryStream>(std::move(fd));
}

void BinaryStream::Write(std::string_view data) {
    while (!data.empty()) {
        if (!fd_) {
            writeError_ = true;
            return;
        }
        ssize_t n = ::write(fd_.Get(), data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            writeError_ = true;
            return;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
}

void BinaryStream::Flush() {
    if (fd_ && ::fsync(fd_.Get()) != 0 && errno != EINVAL) writeError_ = true;
}

std::string BinaryStream::Read(int32_t count) {
    std::string out;
    if (!fd_ || count <= 0) return out;
    out.resize(static_cast<size_t>(count));
    size_t got = 0;
    while (got < out.size()) {
        ssize_t n = ::read(fd_.Get(), out.data() + got, out.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) readError_ = true;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    out.resize(got);
    return out;
}

bool BinaryStream::EndOfFile() const {
    if (!fd_) return true;
    off_t position = ::lseek(fd_.Get(), 0, SEEK_CUR);
    return position < 0 || position >= Length();
}

int64_t BinaryStream::Length() const {
    struct stat st {};
    if (!fd_ || ::fstat(fd_.Get(), &st) != 0) return 0;
    return static_cast<int64_t>(st.st_size);
}

}  // namespace fw
