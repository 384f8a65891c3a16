#pragma once

#include "platform/FileSystem.h"

namespace Plovermantle {

// The real disk, through POSIX, std::filesystem and Qt's file classes.
class PosixFileSystem : public FileSystem {
public:
    std::optional<std::vector<ListedEntry>> listFolder(const std::string& folder) override;
    std::optional<std::string> readTextFile(const std::string& path) override;
    bool writeFileAtomically(const std::string& path, std::string_view contents) override;
};

} // namespace Plovermantle
