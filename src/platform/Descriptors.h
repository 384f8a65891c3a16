#pragma once

// The few POSIX tools every file operation of a folder is built from: descriptors that close
// themselves, walking a relative path without following links, listing and reading an open
// folder or file within bounds. The differences between systems are kept here and nowhere else.

#include "platform/FileSystem.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <vector>

namespace Plovermantle {

// Closes the file descriptor it holds when it goes out of scope.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1);
    // Closes now, so that a failure to write back (reported only here on some file systems)
    // counts.
    bool close();

private:
    int fd_ = -1;
};

std::error_code systemError(int number);

FileTime fileTime(const timespec& time);
timespec toTimespec(const FileTime& time);
ItemInfo itemInfoFrom(const struct stat& status);
// Modification time, for comparing a file with itself across a copy.
FileTime modifiedTime(const struct stat& status);
// Whether the open file still has the size and modification time it had before its copy: the game
// saving into it meanwhile would leave a copy of neither version.
bool unchangedSince(int fd, std::uint64_t size, const FileTime& modified);

// The names of a relative path ("a/b/c"); nothing when it is absolute, empty where a name should
// be, or holds ".", ".." or a NUL. "" gives no names: the folder itself.
std::optional<std::vector<std::string>> splitRelative(const std::string& relative);

// The folder `names` below the open folder `base`, each step opened without following a link
// (errno ELOOP or ENOTDIR when one stands in the way); no names opens `base` afresh.
Descriptor openFolderAt(int base, const std::vector<std::string>& names);

// Every name in the open folder `folder`, "." and ".." left out; nothing (errno set) when it
// cannot be read to its end.
std::optional<std::vector<std::string>> listNames(int folder);

// At most `maxBytes` of the open file, from its current offset; nothing with errno EFBIG when it
// holds more, or errno set by a failed read.
std::optional<std::string> readAtMost(int fd, std::size_t maxBytes);

// Renames `from` in `fromFolder` to `to` in `toFolder`, failing with EEXIST rather than replace
// anything.
bool renameWithoutReplacing(int fromFolder, const std::string& from, int toFolder,
                            const std::string& to);

// Swaps two entries in one step, where the file system can (errno set when Failed).
ExchangeResult exchangeEntries(int firstFolder, const std::string& first, int secondFolder,
                               const std::string& second);

// Opens the entry `name` of the open folder `folder` without following a link, close-on-exec,
// with O_NONBLOCK and O_NOCTTY added so that a pipe or terminal in its place never makes it wait.
int openEntry(int folder, const std::string& name, int flags, mode_t mode = 0);

// The owner and target of the link `name` in the open folder `folder`, both read from the one
// link, so that a link swapped in meanwhile cannot pass for it; nothing (errno set) otherwise.
struct LinkRead {
    uid_t owner = 0;
    std::string target;
};
std::optional<LinkRead> readLink(int folder, const std::string& name);

// Takes an exclusive lock on the open file that lasts while this descriptor stays open and goes
// with it, whichever thread or process holds it (an OFD lock where the system has one); false
// with errno EAGAIN while someone else holds it.
bool lockOpenFile(int fd);
// Whether someone else holds such a lock, or a POSIX record lock, on the open file; nothing with
// errno set when the system cannot tell.
std::optional<bool> openFileLocked(int fd);

// Returns once everything written to the file system holding `folder` is on the disk.
bool flushFileSystem(int folder);

// Whether new items in the open folder get their permissions from a default ACL.
bool hasDefaultAcl(int folder);

// Six random letters and digits, for a new name no one can guess.
std::string randomSuffix();

// This computer's name.
std::string hostName();

} // namespace Plovermantle
