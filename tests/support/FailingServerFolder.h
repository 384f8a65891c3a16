#pragma once

#include "platform/ServerFolder.h"

#include <functional>
#include <string>
#include <vector>

namespace Plovermantle::Testing {

// One operation asked of the folder or of a tree sink it made.
struct FolderCall {
    std::string operation;
    std::string path; // relative to the folder; for a rename, where from
    bool failed = false;
};

// A real server folder, except that chosen operations fail as the disk would, changing nothing.
// Calls are counted from 1; one fails when its number is `failAt` or when `failIf` says so.
class FailingServerFolder : public ServerFolder {
public:
    ServerFolder* real = nullptr;
    int failAt = 0;
    std::function<bool(const FolderCall&)> failIf;
    std::optional<Account> accountAs; // stands in for the real account when set
    std::vector<FolderCall> calls;

    // Counts the call, then does it unless it is made to fail (noted as an I/O error); the real
    // folder's notes of why become this one's.
    template <typename Do> auto pass(const char* operation, const std::string& path, Do&& work) {
        FolderCall call{operation, path};
        call.failed = failAt == static_cast<int>(calls.size()) + 1 || (failIf && failIf(call));
        calls.push_back(call);
        decltype(work()) result{};
        if (call.failed) {
            noteFailure({operation, path, std::make_error_code(std::errc::io_error)});
        } else {
            result = work();
        }
        if (auto failure = real->takeFailure()) {
            noteFailure(std::move(*failure));
        }
        return result;
    }

    std::string displayName() const override { return real->displayName(); }
    bool isRemote() const override { return real->isRemote(); }
    std::optional<Account> account() override {
        return accountAs ? accountAs : pass("account", "", [&] { return real->account(); });
    }
#define PLOVERMANTLE_PASS(R, op, params, args, path)                                               \
    R op params override {                                                                         \
        return pass(#op, path, [&] { return real->op args; });                                     \
    }
    using Path = std::string;
    PLOVERMANTLE_PASS(std::optional<ItemInfo>, itemInfo, (const Path& p), (p), p)
    PLOVERMANTLE_PASS(std::optional<std::vector<std::string>>, entries, (const Path& p), (p), p)
    PLOVERMANTLE_PASS(std::optional<std::string>, makeTemporaryFolder, (const Path& p), (p), p)
    PLOVERMANTLE_PASS(bool, makeFolder, (const Path& p, std::uint32_t bits), (p, bits), p)
    PLOVERMANTLE_PASS(bool, rename, (const Path& from, const Path& to), (from, to), from)
    PLOVERMANTLE_PASS(bool, removeTree, (const Path& p), (p), p)
    PLOVERMANTLE_PASS(bool, setPermissions, (const Path& p, std::uint32_t bits), (p, bits), p)
    PLOVERMANTLE_PASS(std::optional<TreeTotals>, countTree, (const Path& p), (p), p)
    PLOVERMANTLE_PASS(std::optional<TrashedItem>, moveToTrash, (const Path& p), (p), p)
    PLOVERMANTLE_PASS(bool, restoreFromTrash, (const TrashedItem& t, const Path& p), (t, p), p)
    PLOVERMANTLE_PASS(std::optional<TextFile>, readTextFile, (const Path& p, std::size_t most),
                      (p, most), p)
    PLOVERMANTLE_PASS(bool, writeFileAtomically,
                      (const Path& p, std::string_view text, const ItemInfo& like), (p, text, like),
                      p)
    PLOVERMANTLE_PASS(std::optional<bool>, isLockHeld, (const Path& p), (p), p)
    PLOVERMANTLE_PASS(CopyLockAttempt, lockExclusively, (const Path& p), (p), p)
    PLOVERMANTLE_PASS(bool, breakLock, (const Path& p), (p), p)
#undef PLOVERMANTLE_PASS
    // Counted but not done: a sync of the whole disk per copy would make the tests crawl.
    bool flush(const Path& p) override {
        return pass("flush", p, [] { return true; });
    }
    std::unique_ptr<TreeSink> receiveTree(const Path& p, const OwnershipPlan& plan) override {
        auto sink = pass("receiveTree", p, [&] { return real->receiveTree(p, plan); });
        return sink ? std::make_unique<Sink>(*this, std::move(sink)) : nullptr;
    }

private:
    // The sink's calls count with the folder's.
    struct Sink : TreeSink {
        Sink(FailingServerFolder& f, std::unique_ptr<TreeSink> s) : folder(f), real(std::move(s)) {}
#define PLOVERMANTLE_SINK_PASS(op, params, args, path)                                             \
    bool op params override {                                                                      \
        return folder.pass("sink." #op, path, [&] { return real->op args; });                      \
    }
        PLOVERMANTLE_SINK_PASS(makeFolder, (const TransferItem& i), (i), i.relativePath)
        PLOVERMANTLE_SINK_PASS(makeLink, (const TransferItem& i), (i), i.relativePath)
        PLOVERMANTLE_SINK_PASS(writeFile,
                               (const TransferItem& i, FileContent& c, const ContentProgress& p),
                               (i, c, p), i.relativePath)
        PLOVERMANTLE_SINK_PASS(finish, (), (), "")
#undef PLOVERMANTLE_SINK_PASS
        FailingServerFolder& folder;
        std::unique_ptr<TreeSink> real;
    };
};

} // namespace Plovermantle::Testing
