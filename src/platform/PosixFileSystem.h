#pragma once

#include "platform/FileSystem.h"

#include <QString>

namespace Plovermantle {

// The real disk, through POSIX, std::filesystem and Qt's file classes: files here, trees, the Trash
// and locks in PosixTrees.cpp, PosixTrash.cpp and PosixLocks.cpp.
class PosixFileSystem : public FileSystem {
public:
    std::optional<std::vector<ListedEntry>> listFolder(const std::string& folder) override;
    std::optional<TextFile> readTextFile(const std::string& path) override;
    std::optional<std::string> readFile(const std::string& path, std::size_t maxBytes) override;
    std::optional<std::string> readFileStart(const std::string& path,
                                             std::size_t maxBytes) override;
    bool writeFileAtomically(const std::string& path, std::string_view contents,
                             const ItemInfo& like) override;

    std::optional<ItemInfo> itemInfo(const std::string& path) override;
    std::optional<std::vector<std::string>> folderEntries(const std::string& folder) override;
    std::optional<std::string> canonicalPath(const std::string& path) override;
    bool makeFolder(const std::string& path) override;
    std::optional<std::string> makeTemporaryFolder(const std::string& parent,
                                                   const std::string& prefix) override;
    bool copyRegularFile(const std::string& from, const std::string& to,
                         const ContentProgress& progress) override;
    std::optional<std::string> readSymlink(const std::string& path) override;
    bool makeSymlink(const std::string& target, const std::string& path) override;
    bool setAttributes(const std::string& path, const ItemInfo& like) override;
    bool renameItem(const std::string& from, const std::string& to) override;
    ExchangeResult exchangeItems(const std::string& first, const std::string& second) override;
    bool removeTree(const std::string& path) override;
    bool flushToDisk(const std::string& path) override;
    std::optional<TrashedItem> moveToTrash(const std::string& path) override;
    bool isLockHeld(const std::string& path) override;
    LockAttempt lockExclusively(const std::string& path) override;

private:
    std::optional<std::string> ownLinkTarget(const std::string& path);
    // Qt names files by QString. A path whose bytes do not come back unchanged from that trip (not
    // UTF-8, or holding a NUL) would name some other file, so it is refused instead.
    static std::optional<QString> qtFileName(const std::string& path);
};

} // namespace Plovermantle
