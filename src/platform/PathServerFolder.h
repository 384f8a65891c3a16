#pragma once

// TEMPORARY: a server folder and a world source reached by path, over PosixFileSystem, so that the
// copy written above ServerFolder runs (in the window and the tests) until the descriptor-based
// LocalServerFolder and LocalWorldSource take their place. It acts by path, so it does not keep
// the promises a folder shared with other accounts needs; delete it when they are merged.

#include "platform/PosixFileSystem.h"
#include "platform/ServerFolder.h"

#include <string>
#include <vector>

namespace Plovermantle {

class PathServerFolder : public ServerFolder {
public:
    explicit PathServerFolder(std::string root) : root_(std::move(root)) {}

    std::string displayName() const override { return root_; }
    bool isRemote() const override { return false; }
    std::optional<Account> account() override;
    std::optional<ItemInfo> itemInfo(const std::string& relative) override;
    std::optional<std::vector<std::string>> entries(const std::string& relative) override;
    std::optional<std::string> makeTemporaryFolder(const std::string& prefix) override;
    bool makeFolder(const std::string& relative, std::uint32_t permissions) override;
    bool rename(const std::string& from, const std::string& to) override;
    bool removeTree(const std::string& relative) override;
    bool setPermissions(const std::string& relative, std::uint32_t permissions) override;
    bool flush(const std::string& relative) override;
    std::optional<TreeTotals> countTree(const std::string& relative) override;
    std::unique_ptr<TreeSink> receiveTree(const std::string& relative,
                                          const OwnershipPlan& ownership) override;
    std::optional<TrashedItem> moveToTrash(const std::string& relative) override;
    bool restoreFromTrash(const TrashedItem& trashed, const std::string& relative) override;
    std::optional<TextFile> readTextFile(const std::string& relative,
                                         std::size_t maxBytes) override;
    bool writeFileAtomically(const std::string& relative, std::string_view contents,
                             const ItemInfo& like) override;
    std::optional<bool> isLockHeld(const std::string& relative) override;
    CopyLockAttempt lockExclusively(const std::string& relative) override;
    bool breakLock(const std::string& relative) override;

private:
    std::string path(const std::string& relative) const;
    template <typename R> R passed(R result);
    std::string root_;
    PosixFileSystem files_;
};

class PathWorldSource : public WorldSource {
public:
    explicit PathWorldSource(std::string root) : root_(std::move(root)) {}

    std::string displayName() const override { return root_; }
    std::optional<TreeTotals> totals() override;
    SendResult sendTo(TreeSink& sink, const WorkProgressReport& progress) override;
    std::optional<FileFailure> takeFailure() override { return files_.takeFailure(); }
    std::optional<bool> isOpenInGame() override;
    std::optional<std::string> localPath() const override { return root_; }

private:
    std::string root_;
    PosixFileSystem files_;
};

// Every item of the tree at `root`, parents first, links not followed and pipes, sockets and
// devices left out; nothing, with why in `failure`, when part of it cannot be read.
std::optional<std::vector<TransferItem>> walkTree(const std::string& root, FileFailure& failure);
TreeTotals totalsOf(const std::vector<TransferItem>& items);

} // namespace Plovermantle
