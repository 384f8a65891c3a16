#pragma once

#include "platform/FileSystem.h"
#include "platform/TreeTransfer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Plovermantle {

// Who holds a copy lock, as its file says: for the alert that refuses a second copy.
struct LockHolder {
    std::string host;      // the computer's name
    std::int64_t pid = 0;  // the process on it
    std::string since;     // ISO 8601 UTC
    bool readable = false; // false when the file could not be read or parsed
};

struct CopyLockAttempt {
    LockOutcome outcome = LockOutcome::Failed;
    std::unique_ptr<HeldLock> lock; // set when taken
    LockHolder holder;              // set when held elsewhere
};

// The account the app acts as in a folder: to decide who the copied world is made for.
struct Account {
    std::uint32_t uid = 0;
    std::vector<std::uint32_t> groups; // primary and supplementary
};

// A server's folder, on this computer or on another one. Every name given is relative to the
// folder, "/"-separated, never absolute and never holding "." or ".."; no operation follows a
// link it was not asked to, and none reaches outside the folder. The copy, its locks, the keeping
// of an old world and the server.properties step are written once, above this.
// A failing operation notes why, as FailureNote says.
class ServerFolder : public FailureNote {
public:
    virtual ~ServerFolder() = default;

    // How the user names it: "/srv/mc" or "alex@host:/srv/mc". Failure details start with it.
    virtual std::string displayName() const = 0;
    virtual bool isRemote() const = 0;
    // The account the app acts as there; nothing when it cannot be told (SFTP only).
    virtual std::optional<Account> account() = 0;

    // The item itself (a link is not followed; "" is the folder itself); kind Missing when nothing
    // is there.
    virtual std::optional<ItemInfo> itemInfo(const std::string& relative) = 0;
    // Every name directly inside the folder at `relative`, hidden ones included.
    virtual std::optional<std::vector<std::string>> entries(const std::string& relative) = 0;
    // A new folder `prefix` + six letters or digits, that only its owner may use; answers its name.
    virtual std::optional<std::string> makeTemporaryFolder(const std::string& prefix) = 0;
    // A new empty folder (its parent must exist), with the permission bits given.
    virtual bool makeFolder(const std::string& relative, std::uint32_t permissions) = 0;
    // Moves an item within the folder; fails rather than replace anything.
    virtual bool rename(const std::string& from, const std::string& to) = 0;
    // Removes the item and everything in it, never following a link and never touching what
    // another account made; true when nothing is left.
    virtual bool removeTree(const std::string& relative) = 0;
    // Gives the item itself (never a link) these permission bits: a read-only world is opened to be
    // moved, and gets its own bits back once it is in place.
    virtual bool setPermissions(const std::string& relative, std::uint32_t permissions) = 0;
    // Returns once everything written under `relative` is on the disk.
    virtual bool flush(const std::string& relative) = 0;
    // What a tree holds, counted again: the recount a copy is checked against.
    virtual std::optional<TreeTotals> countTree(const std::string& relative) = 0;

    // A sink that makes a tree at `relative` (which must not exist), for the owner plan given.
    virtual std::unique_ptr<TreeSink> receiveTree(const std::string& relative,
                                                  const OwnershipPlan& ownership) = 0;

    // Moves the item to the Trash of this computer; nothing when no Trash can take it (always so
    // on another computer), and then the item is where it was.
    virtual std::optional<TrashedItem> moveToTrash(const std::string& relative) = 0;
    // Puts an item back from the Trash at `relative`, removing its record.
    virtual bool restoreFromTrash(const TrashedItem& trashed, const std::string& relative) = 0;

    // Whether a default ACL on the folder grants write access to what is made in it: then the
    // server's account may be given access that way, and the copy does not narrow it.
    virtual bool defaultAclGrantsWrite() { return false; }
    // The bytes an unprivileged writer may still put in the folder; nothing when it cannot be told.
    virtual std::optional<std::uint64_t> freeBytes() { return std::nullopt; }

    // At most `maxBytes` of the regular file at `relative` (a link is followed only when the
    // user made it and it leads to a regular file inside the folder; `path` then names that file);
    // nothing when missing, unreadable, not UTF-8 or too large (noted with
    // std::errc::file_too_large).
    virtual std::optional<TextFile> readTextFile(const std::string& relative,
                                                 std::size_t maxBytes) = 0;
    // Replaces the item at `relative` with `contents` through a temporary file renamed into
    // place; owner, group and permission bits as `like`, never more readable than it was.
    virtual bool writeFileAtomically(const std::string& relative, std::string_view contents,
                                     const ItemInfo& like) = 0;

    // Whether a process holds the POSIX lock of the file at `relative` (a world's session.lock);
    // nothing when this folder cannot tell (an SFTP-only host).
    virtual std::optional<bool> isLockHeld(const std::string& relative) = 0;
    // Takes the copy lock file at `relative`, unless a live process holds it; a lock left by a
    // process of this computer that is gone is taken over, any other is refused.
    virtual CopyLockAttempt lockExclusively(const std::string& relative) = 0;
    // Removes a lock file the user has chosen to break.
    virtual bool breakLock(const std::string& relative) = 0;
};

// Where the copied world comes from: a folder of this computer, or a world inside an archive.
//
// A source sends a set of top-level items, named as they go into the staging folder: the world's
// own folder first ("X"), then, for a server's set, "X_nether" and "X_the_end" beside it. Every
// item is named under one of them ("X", "X/level.dat", "X_nether/DIM-1/..."), never "". The copy
// gives each top-level item a tree of its own and renames the set after the name it deploys as,
// so the source's own name for the world does not have to be that name.
class WorldSource {
public:
    virtual ~WorldSource() = default;
    // For failure details: a path, or "archive.zip: world".
    virtual std::string displayName() const = 0;
    // The top-level items it sends, the world's own folder first.
    virtual std::vector<std::string> items() const = 0;
    // Everything the copy will send, the whole set, counted before anything is sent.
    virtual std::optional<TreeTotals> totals() = 0;
    // The bytes the destination can take: a source whose totals cannot be trusted (an archive's
    // headers) stops past them rather than fill the disk.
    virtual void limitBytes(std::uint64_t /*bytes*/) {}
    // Sends every item to `sink`, parents first, reporting progress; Stopped when told to stop.
    // The caller finishes the sink. A local folder also refuses a file that changes while it is
    // sent, and a world the game opens meanwhile (SourceChanged).
    enum class SendResult { Sent, Failed, Stopped, SourceChanged };
    virtual SendResult sendTo(TreeSink& sink, const WorkProgressReport& progress) = 0;
    // Why the last step failed.
    virtual std::optional<FileFailure> takeFailure() = 0;
    // Whether the game has the world open (holds its session.lock); nothing when that cannot be
    // told. A world in an archive is never open.
    virtual std::optional<bool> isOpenInGame() = 0;
    // The world's folder on this computer, when it is one: to refuse a copy onto or into itself.
    virtual std::optional<std::string> localPath() const { return std::nullopt; }
};

} // namespace Plovermantle
