#pragma once

#include <cstdint>
#include <string>

namespace fw {

// A file or folder named by its path. The item need not exist.
class FolderItem {
public:
    explicit FolderItem(std::string path) : path_(std::move(path)) {}

    const std::string& NativePath() const { return path_; }
    // The last component of the path.
    std::string Name() const;
    bool Exists() const;
    bool Directory() const;
    // Bytes in the file; 0 for a folder or a missing file.
    int64_t Length() const;

    // Creates the folder; false (and LastErrorCode set to the system's error number) on failure.
    bool CreateAsFolder();
    // Deletes the file, or the folder when it is empty; false on failure, as above.
    bool Delete();
    int32_t LastErrorCode() const { return lastError_; }

private:
    std::string path_;
    int32_t lastError_ = 0;
};

}  // namespace fw
