#pragma once

#include "platform/PosixFileSystem.h"

#include <set>
#include <string>
#include <vector>

namespace Plovermantle::Testing {

// The real disk, except that chosen file operations fail. Every call of every operation is
// counted from 1, and the calls whose numbers are in `failAt` fail once each, the way the disk
// would: a failed file copy leaves part of its file behind, anything else changes nothing. A flush
// to disk is only counted.
class FailingFileSystem : public PosixFileSystem {
public:
    std::set<int> failAt;
    // Answers every exchange as a file system without the call would.
    bool exchangeUnsupported = false;

    int operations = 0;
    // One line per call, "name path", in order; the failed ones end in " FAILED".
    std::vector<std::string> calls;
    // The names of the operations that were made to fail.
    std::vector<std::string> failed;

    std::optional<std::vector<ListedEntry>> listFolder(const std::string& folder) override;
    std::optional<std::string> readTextFile(const std::string& path) override;
    bool writeFileAtomically(const std::string& path, std::string_view contents) override;
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

private:
    // Counts the call and answers whether it is to fail.
    bool fails(const char* operation, const std::string& path);
};

} // namespace Plovermantle::Testing
