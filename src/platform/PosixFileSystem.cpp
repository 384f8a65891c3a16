// The file system as the saves side and the window see it: listing a folder, reading a file within
// bounds, and whether the game holds a world's lock.
#include "platform/PosixFileSystem.h"

#include "platform/Descriptors.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Plovermantle {

std::optional<std::vector<ListedEntry>> PosixFileSystem::listFolder(const std::string& folder) {
    // By hand rather than through std::filesystem: each entry is examined relative to the open
    // folder, which with a thousand worlds takes half the time, time the window waits for.
    if (folder.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    DIR* const dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        noteFailure({"list", folder, systemError(errno)});
        return std::nullopt;
    }
    const struct Closer {
        DIR* dir;
        ~Closer() { ::closedir(dir); }
    } closer{dir};
    std::vector<ListedEntry> entries;
    // An error part-way through ends the listing with what was read so far.
    while (const dirent* found = ::readdir(dir)) {
        std::string name = found->d_name;
        if (name.starts_with('.')) {
            continue; // hidden, and the folder itself and its parent
        }
        // Asked afresh rather than from the listing's type, so that an entry removed since the
        // folder was read shows as unreadable instead of as a folder.
        struct stat info {};
        const bool examined =
            ::fstatat(::dirfd(dir), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
#ifdef __APPLE__
        // Finder also hides entries carrying the hidden flag.
        if (examined && (info.st_flags & UF_HIDDEN) != 0) {
            continue;
        }
#endif
        entries.push_back(
            {std::move(name), examined ? std::optional(S_ISDIR(info.st_mode)) : std::nullopt});
    }
    return entries;
}

namespace {

// Opened without following a link or blocking, and checked on the open descriptor, so that a FIFO
// or device in the file's place is refused, not waited on. With `startOnly`, a larger file gives
// its first `maxBytes`.
std::optional<std::string> readBounded(const std::string& path, std::size_t maxBytes,
                                       bool startOnly) {
    if (path.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        (!startOnly && static_cast<std::uintmax_t>(info.st_size) > maxBytes)) {
        return std::nullopt;
    }
    if (!startOnly) {
        return readAtMost(file.get(), maxBytes);
    }
    std::string contents(maxBytes, '\0');
    std::size_t got = 0;
    while (got < maxBytes) {
        const ssize_t n = ::read(file.get(), contents.data() + got, maxBytes - got);
        if (n == 0) {
            break;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        got += static_cast<std::size_t>(n);
    }
    contents.resize(got);
    return contents;
}

} // namespace

std::optional<std::string> PosixFileSystem::readFile(const std::string& path,
                                                     std::size_t maxBytes) {
    return readBounded(path, maxBytes, false);
}

std::optional<std::string> PosixFileSystem::readFileStart(const std::string& path,
                                                          std::size_t maxBytes) {
    return readBounded(path, maxBytes, true);
}

std::optional<ItemInfo> PosixFileSystem::itemInfo(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return ItemInfo{};
        }
        noteFailure({"examine", path, systemError(errno)});
        return std::nullopt;
    }
    return itemInfoFrom(status);
}

std::optional<std::string> PosixFileSystem::canonicalPath(const std::string& path) {
    std::error_code error;
    fs::path resolved = fs::canonical(fs::path(path), error);
    if (error) {
        noteFailure({"resolve", path, error});
        return std::nullopt;
    }
    return resolved.string();
}

bool PosixFileSystem::isLockHeld(const std::string& path) {
    // Never through a planted link, and never waiting on a pipe.
    const Descriptor file(openEntry(AT_FDCWD, path, O_RDONLY));
    return file.valid() && openFileLocked(file.get()) == std::optional(true);
}

} // namespace Plovermantle
