#pragma once

#include "platform/RemoteHostPrompts.h"
#include "platform/ServerFolder.h"
#include "platform/ssh/SshConnection.h"
#include "platform/ssh/SshDestination.h"

#include <memory>

struct sftp_attributes_struct;

namespace Plovermantle {

// A server folder on another computer, reached over one SSH connection: SFTP for items, and the
// account's shell, where it has one, for what SFTP cannot do (replacing a file, flushing, seeing
// a world's lock, streaming a tree into tar). A lost connection fails every operation after it.
class RemoteServerFolder : public ServerFolder {
public:
    // Connects and checks that the folder is there; nothing on failure, with why in `failure`.
    static std::unique_ptr<RemoteServerFolder> open(const SshDestination& destination,
                                                    RemoteHostPrompts& prompts,
                                                    const ConnectSettings& settings,
                                                    FileFailure& failure);

    std::string displayName() const override;
    bool isRemote() const override { return true; }
    std::optional<Account> account() override;
    std::optional<ItemInfo> itemInfo(const std::string& relative) override;
    std::optional<std::vector<std::string>> entries(const std::string& relative) override;
    std::optional<std::string> makeTemporaryFolder(const std::string& prefix) override;
    bool makeFolder(const std::string& relative, std::uint32_t permissions) override;
    bool rename(const std::string& from, const std::string& to) override;
    bool removeTree(const std::string& relative) override;
    bool setPermissions(const std::string& relative, std::uint32_t permissions) override;
    bool flush(const std::string& relative) override;
    std::optional<std::uint64_t> freeBytes() override;
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

    SshConnection& connection() { return *connection_; }
    // The absolute path on the host of an item of the folder.
    std::string absolute(const std::string& relative) const;
    // "user@host:/path" of an item, for failure details.
    std::string where(const std::string& relative) const;
    // Notes why the last SFTP call failed, in the server's words where it gave any.
    void noteSftpFailure(const std::string& operation, const std::string& relative);
    // The account's user number, learned from the shell or from an item it made.
    std::optional<std::uint32_t> ownUid();

private:
    RemoteServerFolder() = default;
    bool validName(const std::string& relative, const std::string& operation);
    bool removeItem(const std::string& relative, const sftp_attributes_struct& attributes,
                    std::uint32_t uid, int depth);
    bool countItem(const std::string& relative, const sftp_attributes_struct& attributes,
                   TreeTotals& totals, int depth);
    bool flushFiles(const std::string& relative, int depth);
    // Puts back a file that an interrupted SFTP-only replace left as its old copy.
    void repairReplace(const std::string& relative);
    bool replaceFile(const std::string& temporary, const std::string& relative);

    std::shared_ptr<SshConnection> connection_;
    SshDestination destination_;
    std::optional<std::optional<Account>> account_;
    std::optional<std::uint32_t> uid_;
    bool uidTried_ = false;
};

} // namespace Plovermantle
