#pragma once

#include "platform/Descriptors.h"
#include "platform/ServerFolder.h"

#include <memory>

namespace Plovermantle {

// A server folder of this computer, opened once and reached only through that descriptor: every
// name below it is walked one folder at a time without following a link, so that an entry another
// account exchanges meanwhile can never lead an operation outside.
class LocalServerFolder : public ServerFolder {
public:
    // The folder the user chose (a link they made on the way to it is followed); nothing, with
    // why in `failure`, when it cannot be opened as a folder.
    static std::unique_ptr<LocalServerFolder> open(const std::string& path,
                                                   FileFailure* failure = nullptr);

    std::string displayName() const override { return path_; }
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
    bool defaultAclGrantsWrite() override { return hasDefaultAcl(folder_.get()); }
    std::optional<std::uint64_t> freeBytes() override;

    std::optional<TextFile> readTextFile(const std::string& relative,
                                         std::size_t maxBytes) override;
    bool writeFileAtomically(const std::string& relative, std::string_view contents,
                             const ItemInfo& like) override;

    std::optional<bool> isLockHeld(const std::string& relative) override;
    CopyLockAttempt lockExclusively(const std::string& relative) override;
    bool breakLock(const std::string& relative) override;

    // The path of `relative` for failure details.
    std::string pathOf(const std::string& relative) const;

private:
    LocalServerFolder(Descriptor folder, std::string path)
        : folder_(std::move(folder)), path_(std::move(path)) {}

    // The open folder holding `relative` and its last name; nothing (noted as `operation`'s
    // failure) when the path is not a plain relative one or a folder on the way cannot be opened.
    struct Parent {
        Descriptor folder;
        std::string name;
    };
    std::optional<Parent> openParent(const std::string& relative, const char* operation);
    // The folder at `relative` itself ("" for the server folder), noted likewise.
    Descriptor openFolder(const std::string& relative, const char* operation);
    bool fail(const char* operation, const std::string& relative, std::error_code error);
    bool failErrno(const char* operation, const std::string& relative);

    Descriptor folder_;
    std::string path_;
};

} // namespace Plovermantle
