#pragma once

#include "platform/FileSystem.h"

namespace Plovermantle {

// The real disk, through POSIX and std::filesystem.
class PosixFileSystem : public FileSystem {
public:
    std::optional<std::vector<ListedEntry>> listFolder(const std::string& folder) override;
};

} // namespace Plovermantle
