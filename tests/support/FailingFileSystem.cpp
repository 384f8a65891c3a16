#include "FailingFileSystem.h"

#include <filesystem>

namespace Plovermantle::Testing {

bool FailingFileSystem::fails(const char* operation, const std::string& path) {
    ++operations;
    const bool fail = failAt.contains(operations);
    calls.push_back(std::string(operation) + ' ' + path + (fail ? " FAILED" : ""));
    if (fail) {
        failed.emplace_back(operation);
    }
    return fail;
}

std::optional<std::vector<ListedEntry>> FailingFileSystem::listFolder(const std::string& folder) {
    if (fails("listFolder", folder)) {
        return std::nullopt;
    }
    return PosixFileSystem::listFolder(folder);
}

std::optional<std::string> FailingFileSystem::readTextFile(const std::string& path) {
    if (fails("readTextFile", path)) {
        return std::nullopt;
    }
    return PosixFileSystem::readTextFile(path);
}

bool FailingFileSystem::writeFileAtomically(const std::string& path, std::string_view contents) {
    return !fails("writeFileAtomically", path) &&
           PosixFileSystem::writeFileAtomically(path, contents);
}

std::optional<ItemInfo> FailingFileSystem::itemInfo(const std::string& path) {
    if (fails("itemInfo", path)) {
        return std::nullopt;
    }
    return PosixFileSystem::itemInfo(path);
}

std::optional<std::vector<std::string>>
FailingFileSystem::folderEntries(const std::string& folder) {
    if (fails("folderEntries", folder)) {
        return std::nullopt;
    }
    return PosixFileSystem::folderEntries(folder);
}

std::optional<std::string> FailingFileSystem::canonicalPath(const std::string& path) {
    if (fails("canonicalPath", path)) {
        return std::nullopt;
    }
    return PosixFileSystem::canonicalPath(path);
}

bool FailingFileSystem::makeFolder(const std::string& path) {
    return !fails("makeFolder", path) && PosixFileSystem::makeFolder(path);
}

std::optional<std::string> FailingFileSystem::makeTemporaryFolder(const std::string& parent,
                                                                  const std::string& prefix) {
    if (fails("makeTemporaryFolder", parent)) {
        return std::nullopt;
    }
    return PosixFileSystem::makeTemporaryFolder(parent, prefix);
}

bool FailingFileSystem::copyRegularFile(const std::string& from, const std::string& to,
                                        const ContentProgress& progress) {
    if (fails("copyRegularFile", from)) {
        // As a full disk would: the file is made, and only part of it written.
        if (PosixFileSystem::copyRegularFile(from, to, progress)) {
            std::error_code ignored;
            std::filesystem::resize_file(to, std::filesystem::file_size(to) / 2, ignored);
        }
        return false;
    }
    return PosixFileSystem::copyRegularFile(from, to, progress);
}

std::optional<std::string> FailingFileSystem::readSymlink(const std::string& path) {
    if (fails("readSymlink", path)) {
        return std::nullopt;
    }
    return PosixFileSystem::readSymlink(path);
}

bool FailingFileSystem::makeSymlink(const std::string& target, const std::string& path) {
    return !fails("makeSymlink", path) && PosixFileSystem::makeSymlink(target, path);
}

bool FailingFileSystem::setAttributes(const std::string& path, const ItemInfo& like) {
    return !fails("setAttributes", path) && PosixFileSystem::setAttributes(path, like);
}

bool FailingFileSystem::renameItem(const std::string& from, const std::string& to) {
    return !fails("renameItem", from) && PosixFileSystem::renameItem(from, to);
}

ExchangeResult FailingFileSystem::exchangeItems(const std::string& first,
                                                const std::string& second) {
    if (fails("exchangeItems", first)) {
        return ExchangeResult::Failed;
    }
    if (exchangeUnsupported) {
        return ExchangeResult::Unsupported;
    }
    return PosixFileSystem::exchangeItems(first, second);
}

bool FailingFileSystem::removeTree(const std::string& path) {
    return !fails("removeTree", path) && PosixFileSystem::removeTree(path);
}

bool FailingFileSystem::flushToDisk(const std::string& path) {
    // Counted but not done: a sync of the whole file system per copy would make the suite as slow
    // as the busiest program sharing the disk.
    return !fails("flushToDisk", path);
}

} // namespace Plovermantle::Testing
