#pragma once

#include "platform/PosixFileSystem.h"

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace Plovermantle::Testing {

// The real disk, except that chosen file operations fail the way the disk would: a failed file copy
// leaves part of its file behind, anything else changes nothing. Calls are counted from 1; one
// fails when its number is in `failAt` or when `failIf` says so of its "operation path" line.
class FailingFileSystem : public PosixFileSystem {
    using Base = PosixFileSystem;
    using Path = std::string;

public:
    std::set<int> failAt;
    std::function<bool(const std::string& call)> failIf;
    // Answers every exchange as a file system without the call would.
    bool exchangeUnsupported = false;

    // One "operation path" line per call, in order; the failed ones end in " FAILED".
    std::vector<std::string> calls;
    // The operations that were made to fail.
    std::vector<std::string> failed;

    std::optional<TextFile> readTextFile(const Path& p) override {
        return ok(__func__, p) ? Base::readTextFile(p) : std::nullopt;
    }
    std::optional<std::string> readFile(const Path& p, std::size_t maxBytes) override {
        return ok(__func__, p) ? Base::readFile(p, maxBytes) : std::nullopt;
    }
    bool writeFileAtomically(const Path& p, std::string_view text, const ItemInfo& like) override {
        return ok(__func__, p) && Base::writeFileAtomically(p, text, like);
    }
    std::optional<ItemInfo> itemInfo(const Path& p) override {
        return ok(__func__, p) ? Base::itemInfo(p) : std::nullopt;
    }
    std::optional<std::vector<std::string>> folderEntries(const Path& p) override {
        return ok(__func__, p) ? Base::folderEntries(p) : std::nullopt;
    }
    std::optional<std::string> canonicalPath(const Path& p) override {
        return ok(__func__, p) ? Base::canonicalPath(p) : std::nullopt;
    }
    bool makeFolder(const Path& p) override { return ok(__func__, p) && Base::makeFolder(p); }
    std::optional<std::string> makeTemporaryFolder(const Path& p, const Path& prefix) override {
        return ok(__func__, p) ? Base::makeTemporaryFolder(p, prefix) : std::nullopt;
    }
    bool copyRegularFile(const Path& from, const Path& to, const ContentProgress& told) override {
        if (ok(__func__, from)) {
            return Base::copyRegularFile(from, to, told);
        }
        // As a full disk would: the file is made, and only part of it written.
        if (Base::copyRegularFile(from, to, told)) {
            std::filesystem::resize_file(to, std::filesystem::file_size(to) / 2);
        }
        return false;
    }
    std::optional<std::string> readSymlink(const Path& p) override {
        return ok(__func__, p) ? Base::readSymlink(p) : std::nullopt;
    }
    bool makeSymlink(const Path& target, const Path& p) override {
        return ok(__func__, p) && Base::makeSymlink(target, p);
    }
    bool setAttributes(const Path& p, const ItemInfo& like) override {
        return ok(__func__, p) && Base::setAttributes(p, like);
    }
    bool renameItem(const Path& from, const Path& to) override {
        return ok(__func__, from) && Base::renameItem(from, to);
    }
    ExchangeResult exchangeItems(const Path& first, const Path& second) override {
        if (!ok(__func__, first)) {
            return ExchangeResult::Failed;
        }
        return exchangeUnsupported ? ExchangeResult::Unsupported
                                   : Base::exchangeItems(first, second);
    }
    bool removeTree(const Path& p) override { return ok(__func__, p) && Base::removeTree(p); }
    // Counted but not done: a sync of the whole disk per copy would make the tests crawl.
    bool flushToDisk(const Path& p) override { return ok(__func__, p); }
    std::optional<TrashedItem> moveToTrash(const Path& p) override {
        return ok(__func__, p) ? Base::moveToTrash(p) : std::nullopt;
    }
    // A lock that cannot be looked at counts as not held.
    bool isLockHeld(const Path& p) override { return ok(__func__, p) && Base::isLockHeld(p); }
    LockAttempt lockExclusively(const Path& p) override {
        return ok(__func__, p) ? Base::lockExclusively(p) : LockAttempt{};
    }

private:
    // Counts the call and answers whether it may go ahead; a failure is noted as an I/O error.
    bool ok(const char* operation, const Path& path) {
        std::string call = std::string(operation) + ' ' + path;
        const bool fail =
            failAt.contains(static_cast<int>(calls.size()) + 1) || (failIf && failIf(call));
        if (fail) {
            noteFailure({operation, path, std::make_error_code(std::errc::io_error)});
            failed.emplace_back(operation);
            call += " FAILED";
        }
        calls.push_back(std::move(call));
        return !fail;
    }
};

} // namespace Plovermantle::Testing
