#pragma once

#include "platform/FileSystem.h"

namespace Plovermantle {

// The real disk, through POSIX: what the saves side and the window read. The server folder has its
// own, held open, in LocalServerFolder.
class PosixFileSystem : public FileSystem {
public:
    std::optional<std::vector<ListedEntry>> listFolder(const std::string& folder) override;
    std::optional<std::string> readFile(const std::string& path, std::size_t maxBytes) override;
    std::optional<std::string> readFileStart(const std::string& path,
                                             std::size_t maxBytes) override;
    std::optional<ItemInfo> itemInfo(const std::string& path) override;
    std::optional<std::string> canonicalPath(const std::string& path) override;
    bool isLockHeld(const std::string& path) override;
};

} // namespace Plovermantle
