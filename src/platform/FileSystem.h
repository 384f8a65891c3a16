#pragma once

#include "platform/FileContentCopy.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace Plovermantle {

// One entry of a one-level folder listing.
struct ListedEntry {
    std::string name; // the name as stored on disk, extension included
    // Whether the entry itself is a folder (a link to a folder is not). Empty when the entry could
    // not be examined, for example because it vanished while the folder was being listed.
    std::optional<bool> isDirectory;
};

// What an item on disk is, judged without following a symbolic link.
enum class ItemKind { Missing, Folder, RegularFile, SymbolicLink, Special };

struct FileTime {
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;

    bool operator==(const FileTime&) const = default;
};

struct ItemInfo {
    ItemKind kind = ItemKind::Missing;
    std::uint64_t size = 0;        // in bytes, for a regular file
    std::uint32_t permissions = 0; // the mode's permission bits, set-id and sticky bits included
    FileTime accessed;
    FileTime modified;
    // Which item this is: two paths with the same pair name the same item.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool ownedByUser = false; // owned by the account the app runs as
    // Who owns it: the user's and the group's numbers.
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
};

// A whole text file, and the file it was read from with what that file was when it was read.
struct TextFile {
    std::string text;
    std::string path;
    ItemInfo info;
};

// Why a file operation failed where the system has no error number of its own for it.
enum class FileProblem {
    NotRegularFile = 1,
    NotUtf8Text,
    LinkNotFollowed,
    ForeignLink,
    ForeignItem,
    LockedElsewhere,
};
const std::error_category& fileProblemCategory();
inline std::error_code make_error_code(FileProblem problem) {
    return {static_cast<int>(problem), fileProblemCategory()};
}

// A file operation that failed: what was being done, to which path, and the system's reason.
struct FileFailure {
    std::string operation; // a few words: "read", "create a folder in"
    std::string path;
    std::error_code error;

    bool operator==(const FileFailure&) const = default;
};

// "<operation> <path>: <reason>", for the user to read.
std::string describe(const FileFailure& failure);

enum class ExchangeResult { Exchanged, Unsupported, Failed };

// Where an item moved to the Trash went: the item itself, and the record that lets the file
// manager put it back (empty where the platform keeps none).
struct TrashedItem {
    std::string path;
    std::string record;
};

// A lock held for as long as this object lives.
class HeldLock {
public:
    virtual ~HeldLock() = default;
};

enum class LockOutcome { Taken, HeldElsewhere, Failed };

struct LockAttempt {
    LockOutcome outcome = LockOutcome::Failed;
    std::unique_ptr<HeldLock> lock; // set when taken
};

// The file operations the logic reaches the disk through. Paths are native byte strings (UTF-8 on
// every desktop we ship for); they are never reinterpreted on the way through.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // The entries directly inside `folder` that the platform does not treat as hidden, in the order
    // the file system yields them; nothing when the folder cannot be opened.
    virtual std::optional<std::vector<ListedEntry>> listFolder(const std::string& folder) = 0;

    // Whole text files. The file at `path` read whole, byte for byte; nothing when it is missing,
    // is not a regular file, cannot be read, or does not hold valid UTF-8. A symbolic link at
    // `path` is followed only when the user running the app owns it and it leads straight to a
    // regular file: anyone else's link could name a file that user may read and others may not.
    virtual std::optional<TextFile> readTextFile(const std::string& path) = 0;
    // The bytes of the regular file at `path`; nothing when it is missing, is a link or anything
    // but a regular file, cannot be read, or holds more than `maxBytes`. The world list calls it
    // from a worker thread: implementations must allow that.
    virtual std::optional<std::string> readFile(const std::string& path, std::size_t maxBytes) = 0;
    // As readFile, but a file holding more gives its first `maxBytes`.
    virtual std::optional<std::string> readFileStart(const std::string& path,
                                                     std::size_t maxBytes) = 0;
    // Replaces the item at `path` with a file holding `contents`, in one step, through a temporary
    // file beside it: a reader sees the old content or the new, never a mix, and a failed write
    // leaves the old item whole. A symbolic link at `path` is replaced, never followed. The new
    // file gets the group (and, for the superuser, the owner) and then the permission bits of
    // `like`; until then only its owner may read it. Answers whether the new content is in place.
    virtual bool writeFileAtomically(const std::string& path, std::string_view contents,
                                     const ItemInfo& like) = 0;

    // Items and trees, for copying a world and putting it in place.

    // The item at `path` itself (a link is not followed); kind Missing when nothing is there,
    // nothing when it cannot be examined.
    virtual std::optional<ItemInfo> itemInfo(const std::string& path) = 0;
    // Every name directly inside `folder`, hidden ones included; nothing when it cannot be read.
    virtual std::optional<std::vector<std::string>> folderEntries(const std::string& folder) = 0;
    // The absolute path of `path` with every link resolved; nothing when it does not exist.
    virtual std::optional<std::string> canonicalPath(const std::string& path) = 0;
    // A new empty folder that only its owner may use until setAttributes says otherwise.
    virtual bool makeFolder(const std::string& path) = 0;
    // A new empty folder named `prefix` plus six random letters or digits inside `parent`.
    virtual std::optional<std::string> makeTemporaryFolder(const std::string& parent,
                                                           const std::string& prefix) = 0;
    // A new regular file at `to` with the contents, permission bits and times of the regular file
    // `from`, less set-user-ID, set-group-ID and sticky, which no world needs and which would make
    // the copy a program run as its new owner. Fails when `to` exists, when `from` is anything
    // else, or when `progress` says stop.
    virtual bool copyRegularFile(const std::string& from, const std::string& to,
                                 const ContentProgress& progress) = 0;
    virtual std::optional<std::string> readSymlink(const std::string& path) = 0;
    virtual bool makeSymlink(const std::string& target, const std::string& path) = 0;
    // Gives the item at `path` the permission bits (not for a link) and times of `like`.
    virtual bool setAttributes(const std::string& path, const ItemInfo& like) = 0;
    // Moves an item to a new name in the same file system; fails rather than replace anything.
    virtual bool renameItem(const std::string& from, const std::string& to) = 0;
    // Swaps two items in one step, where the file system can.
    virtual ExchangeResult exchangeItems(const std::string& first, const std::string& second) = 0;
    // Removes the item and everything in it, never following a link; true when nothing is left.
    virtual bool removeTree(const std::string& path) = 0;
    // Returns once everything written to the file system holding `path` is on the disk.
    virtual bool flushToDisk(const std::string& path) = 0;
    // Moves the item at `path` itself (a link is not followed) to the user's Trash, from where
    // the file manager can put it back; nothing when no Trash can take it, and then the item is
    // where it was.
    virtual std::optional<TrashedItem> moveToTrash(const std::string& path) = 0;

    // Locks between processes.

    // Whether another process holds a lock on the file at `path`, as the game and its server hold
    // one on a world's session.lock while the world is open. A file that is missing or cannot be
    // opened holds no lock.
    virtual bool isLockHeld(const std::string& path) = 0;
    // Takes the lock file at `path` for this process, unless a live process holds it; the lock
    // of a process that is gone is taken over. The file goes when the lock is released.
    virtual LockAttempt lockExclusively(const std::string& path) = 0;

    // Why an operation failed. Every failing operation notes why; the first note since the last
    // take is kept, since what fails after it is most often cleaning up. Callers decide on the
    // operations' answers alone and take the note only to tell the user. Safe from any thread.
    void noteFailure(FileFailure failure);
    std::optional<FileFailure> takeFailure();

private:
    std::mutex failureMutex_;
    std::optional<FileFailure> failure_;
};

} // namespace Plovermantle

template <> struct std::is_error_code_enum<Plovermantle::FileProblem> : std::true_type {};
