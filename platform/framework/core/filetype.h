#pragma once

#include <string>

namespace fw {

// A file type the application knows. It is kept in memory only: the application opens no
// files, so nothing is registered with the desktop.
struct FileType {
    std::string Name;
    std::string Extensions;
    std::string MacType;
    std::string MacCreator;
};

}  // namespace fw
