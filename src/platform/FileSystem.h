#pragma once

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

// Why an operation failed. Every failing operation notes why; the first note since the last take
// is kept, since what fails after it is most often cleaning up. Callers decide on the operations'
// answers alone and take the note only to tell the user. Safe from any thread.
class FailureNote {
public:
    void noteFailure(FileFailure failure);
    std::optional<FileFailure> takeFailure();

private:
    std::mutex mutex_;
    std::optional<FileFailure> failure_;
};

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

// The file operations the logic reaches the disk through. Paths are native byte strings (UTF-8 on
// every desktop we ship for); they are never reinterpreted on the way through.
class FileSystem : public FailureNote {
public:
    virtual ~FileSystem() = default;

    // The entries directly inside `folder` that the platform does not treat as hidden, in the order
    // the file system yields them; nothing when the folder cannot be opened.
    virtual std::optional<std::vector<ListedEntry>> listFolder(const std::string& folder) = 0;

    // The bytes of the regular file at `path`; nothing when it is missing, is a link or anything
    // but a regular file, cannot be read, or holds more than `maxBytes`. The world list calls it
    // from a worker thread: implementations must allow that.
    virtual std::optional<std::string> readFile(const std::string& path, std::size_t maxBytes) = 0;
    // As readFile, but a file holding more gives its first `maxBytes`.
    virtual std::optional<std::string> readFileStart(const std::string& path,
                                                     std::size_t maxBytes) = 0;

    // The item at `path` itself (a link is not followed); kind Missing when nothing is there,
    // nothing when it cannot be examined.
    virtual std::optional<ItemInfo> itemInfo(const std::string& path) = 0;
    // The absolute path of `path` with every link resolved; nothing when it does not exist.
    virtual std::optional<std::string> canonicalPath(const std::string& path) = 0;

    // Whether another process holds a lock on the file at `path`, as the game and its server hold
    // one on a world's session.lock while the world is open. A file that is missing or cannot be
    // opened holds no lock.
    virtual bool isLockHeld(const std::string& path) = 0;
};

} // namespace Plovermantle

template <> struct std::is_error_code_enum<Plovermantle::FileProblem> : std::true_type {};
