#include "folderitem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace fw {

std::string FolderItem::Name() const {
    std::string trimmed = path_;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    size_t slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

bool FolderItem::Exists() const {
    struct stat st {};
    return ::stat(path_.c_str(), &st) == 0;
}

bool FolderItem::Directory() const {
    struct stat st {};
    return ::stat(path_.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int64_t FolderItem::Length() const {
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    return static_cast<int64_t>(st.st_size);
}

bool FolderItem::CreateAsFolder() {
    lastError_ = ::mkdir(path_.c_str(), 0777) == 0 ? 0 : errno;
    return lastError_ == 0;
}

bool FolderItem::Delete() {
    int rc = Directory() ? ::rmdir(path_.c_str()) : ::unlink(path_.c_str());
    lastError_ = rc == 0 ? 0 : errno;
    return lastError_ == 0;
}

}  // namespace fw
