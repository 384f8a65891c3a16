#pragma once

#include "platform/PosixFileSystem.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace Plovermantle::Testing {

// The real disk, except that chosen file operations fail the way the disk would: a failed file copy
// leaves part of its file behind, anything else changes nothing. Calls are counted from 1; one
// fails when its number is `failAt` or when `failIf` says so of its "operation path" line.
class FailingFileSystem : public PosixFileSystem {
    using Base = PosixFileSystem;
    using Path = std::string;

public:
    int failAt = 0;
    std::function<bool(const std::string& call)> failIf;
    // Answers every exchange as a file system without the call would.
    bool exchangeUnsupported = false;

    // One "operation path" line per call, in order; the failed ones end in " FAILED".
    std::vector<std::string> calls;

// Counted, then done on the real disk unless made to fail.
#define PLOVERMANTLE_PASS(R, op, params, args, path)                                               \
    R op params override {                                                                         \
        return ok(#op, path) ? Base::op args : R{};                                                \
    }
    PLOVERMANTLE_PASS(std::optional<TextFile>, readTextFile, (const Path& p), (p), p)
    PLOVERMANTLE_PASS(std::optional<std::string>, readFile, (const Path& p, std::size_t most),
                      (p, most), p)
    PLOVERMANTLE_PASS(std::optional<std::string>, readFileStart, (const Path& p, std::size_t most),
                      (p, most), p)
    PLOVERMANTLE_PASS(bool, writeFileAtomically,
                      (const Path& p, std::string_view text, const ItemInfo& like), (p, text, like),
                      p)
    PLOVERMANTLE_PASS(std::optional<ItemInfo>, itemInfo, (const Path& p), (p), p)
    PLOVERMANTLE_PASS(std::optional<std::vector<std::string>>, folderEntries, (const Path& p), (p),
                      p)
    PLOVERMANTLE_PASS(std::optional<std::string>, canonicalPath, (const Path& p), (p), p)
    PLOVERMANTLE_PASS(bool, makeFolder, (const Path& p), (p), p)
    PLOVERMANTLE_PASS(std::optional<std::string>, makeTemporaryFolder,
                      (const Path& p, const Path& prefix), (p, prefix), p)
    PLOVERMANTLE_PASS(std::optional<std::string>, readSymlink, (const Path& p), (p), p)
    PLOVERMANTLE_PASS(bool, makeSymlink, (const Path& target, const Path& p), (target, p), p)
    PLOVERMANTLE_PASS(bool, setAttributes, (const Path& p, const ItemInfo& like), (p, like), p)
    PLOVERMANTLE_PASS(bool, renameItem, (const Path& from, const Path& to), (from, to), from)
    PLOVERMANTLE_PASS(bool, removeTree, (const Path& p), (p), p)
    PLOVERMANTLE_PASS(std::optional<TrashedItem>, moveToTrash, (const Path& p), (p), p)
    // A lock that cannot be looked at counts as not held.
    PLOVERMANTLE_PASS(bool, isLockHeld, (const Path& p), (p), p)
    PLOVERMANTLE_PASS(LockAttempt, lockExclusively, (const Path& p), (p), p)
#undef PLOVERMANTLE_PASS

    // Failing, the real file copy is stopped at its first step, as a full disk would stop it, and
    // keeps only part of its bytes; the caller gets what the real copy answers.
    bool copyRegularFile(const Path& from, const Path& to, const ContentProgress& told) override {
        if (ok(__func__, from)) {
            return Base::copyRegularFile(from, to, told);
        }
        const bool copied = Base::copyRegularFile(from, to, [](std::uint64_t) { return false; });
        std::error_code ignored;
        std::filesystem::resize_file(to, std::filesystem::file_size(to, ignored) / 2, ignored);
        return copied;
    }
    ExchangeResult exchangeItems(const Path& first, const Path& second) override {
        if (!ok(__func__, first)) {
            return ExchangeResult::Failed;
        }
        return exchangeUnsupported ? ExchangeResult::Unsupported
                                   : Base::exchangeItems(first, second);
    }
    // Counted but not done: a sync of the whole disk per copy would make the tests crawl.
    bool flushToDisk(const Path& p) override {
        return ok(__func__, p);
    }

private:
    // Counts the call and answers whether it may go ahead; a failure is noted as an I/O error.
    bool ok(const char* operation, const Path& path) {
        const std::string call = std::string(operation) + ' ' + path;
        const bool fail = failAt == static_cast<int>(calls.size()) + 1 || (failIf && failIf(call));
        if (fail) {
            noteFailure({operation, path, std::make_error_code(std::errc::io_error)});
        }
        calls.push_back(fail ? call + " FAILED" : call);
        return !fail;
    }
};

} // namespace Plovermantle::Testing
