#include "platform/Descriptors.h"

#include <array>
#include <cerrno>
#include <cstdio> // renameat2, renameatx_np
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/xattr.h>
#endif

namespace Plovermantle {

void Descriptor::reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

bool Descriptor::close() {
    return ::close(release()) == 0;
}

std::error_code systemError(int number) {
    return {number, std::system_category()};
}

FileTime fileTime(const timespec& time) {
    return {static_cast<std::int64_t>(time.tv_sec), static_cast<std::int64_t>(time.tv_nsec)};
}

timespec toTimespec(const FileTime& time) {
    timespec converted{};
    converted.tv_sec = static_cast<time_t>(time.seconds);
    converted.tv_nsec = static_cast<long>(time.nanoseconds);
    return converted;
}

FileTime modifiedTime(const struct stat& status) {
#ifdef __APPLE__
    return fileTime(status.st_mtimespec);
#else
    return fileTime(status.st_mtim);
#endif
}

bool unchangedSince(int fd, std::uint64_t size, const FileTime& modified) {
    struct stat now {};
    return ::fstat(fd, &now) == 0 && static_cast<std::uint64_t>(now.st_size) == size &&
           modifiedTime(now) == modified;
}

ItemInfo itemInfoFrom(const struct stat& status) {
    ItemInfo info;
    if (S_ISDIR(status.st_mode)) {
        info.kind = ItemKind::Folder;
    } else if (S_ISREG(status.st_mode)) {
        info.kind = ItemKind::RegularFile;
    } else if (S_ISLNK(status.st_mode)) {
        info.kind = ItemKind::SymbolicLink;
    } else {
        info.kind = ItemKind::Special;
    }
    info.size = status.st_size > 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
    info.permissions = static_cast<std::uint32_t>(status.st_mode & 07777);
#ifdef __APPLE__
    info.accessed = fileTime(status.st_atimespec);
#else
    info.accessed = fileTime(status.st_atim);
#endif
    info.modified = modifiedTime(status);
    info.device = static_cast<std::uint64_t>(status.st_dev);
    info.inode = static_cast<std::uint64_t>(status.st_ino);
    info.owner = static_cast<std::uint32_t>(status.st_uid);
    info.group = static_cast<std::uint32_t>(status.st_gid);
    info.ownedByUser = status.st_uid == ::geteuid();
    return info;
}

std::optional<std::vector<std::string>> splitRelative(const std::string& relative) {
    std::vector<std::string> names;
    if (relative.empty()) {
        return names;
    }
    if (relative.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = relative.find('/', start);
        std::string name = relative.substr(start, end - start);
        if (name.empty() || name == "." || name == "..") {
            return std::nullopt;
        }
        names.push_back(std::move(name));
        if (end == std::string::npos) {
            return names;
        }
        start = end + 1;
    }
}

int openEntry(int folder, const std::string& name, int flags, mode_t mode) {
    return ::openat(folder, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                    mode);
}

Descriptor openFolderAt(int base, const std::vector<std::string>& names) {
    Descriptor folder(::openat(base, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const std::string& name : names) {
        if (!folder.valid()) {
            break;
        }
        folder = Descriptor(openEntry(folder.get(), name, O_RDONLY | O_DIRECTORY));
    }
    return folder;
}

std::optional<std::vector<std::string>> listNames(int folder) {
    // A fresh open of the folder, so that its read position is its own.
    DIR* const dir = ::fdopendir(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir == nullptr) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* found = ::readdir(dir)) {
        std::string name = found->d_name;
        if (name != "." && name != "..") {
            names.push_back(std::move(name));
        }
        errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    // Part of a listing would make part of a tree look whole.
    if (error != 0) {
        errno = error;
        return std::nullopt;
    }
    return names;
}

std::optional<std::string> readAtMost(int fd, std::size_t maxBytes) {
    std::string contents;
    std::array<char, 1 << 16> buffer{};
    // One byte past the limit is asked for, so that a file that grew meanwhile shows.
    while (contents.size() <= maxBytes) {
        const ssize_t got =
            ::read(fd, buffer.data(), std::min(buffer.size(), maxBytes + 1 - contents.size()));
        if (got == 0) {
            return contents;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        contents.append(buffer.data(), static_cast<std::size_t>(got));
    }
    errno = EFBIG;
    return std::nullopt;
}

bool renameWithoutReplacing(int fromFolder, const std::string& from, int toFolder,
                            const std::string& to) {
#if defined(__linux__)
    if (::renameat2(fromFolder, from.c_str(), toFolder, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return false;
    }
#elif defined(__APPLE__)
    if (::renameatx_np(fromFolder, from.c_str(), toFolder, to.c_str(), RENAME_EXCL) == 0) {
        return true;
    }
    if (errno != ENOTSUP) {
        return false;
    }
#endif
    // The file system cannot refuse to replace by itself: a hard link can, and then the old name
    // goes. A folder cannot be linked; it is looked for first, and only our own hidden names
    // could appear in between.
    if (::linkat(fromFolder, from.c_str(), toFolder, to.c_str(), 0) == 0) {
        return ::unlinkat(fromFolder, from.c_str(), 0) == 0;
    }
    if (errno == EEXIST) {
        return false;
    }
    struct stat status {};
    if (::fstatat(toFolder, to.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return errno == ENOENT && ::renameat(fromFolder, from.c_str(), toFolder, to.c_str()) == 0;
}

std::optional<LinkRead> readLink(int folder, const std::string& name) {
    struct stat status {};
    std::array<char, 4096> target{};
#if defined(__linux__)
    const Descriptor link(::openat(folder, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    const bool examined = link.valid() && ::fstat(link.get(), &status) == 0;
    const auto readTarget = [&] {
        return ::readlinkat(link.get(), "", target.data(), target.size());
    };
#else
    const bool examined = ::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
    const auto readTarget = [&] {
        return ::readlinkat(folder, name.c_str(), target.data(), target.size());
    };
#endif
    if (!examined) {
        return std::nullopt;
    }
    if (!S_ISLNK(status.st_mode)) {
        errno = EINVAL;
        return std::nullopt;
    }
    const ssize_t length = readTarget();
    if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
        errno = length < 0 ? errno : ENAMETOOLONG;
        return std::nullopt;
    }
    return LinkRead{status.st_uid, std::string(target.data(), static_cast<std::size_t>(length))};
}

bool lockOpenFile(int fd) {
#if defined(__linux__)
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) {
        return true;
    }
    if (errno == EACCES) {
        errno = EAGAIN;
    }
    return false;
#else
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
#endif
}

std::optional<bool> openFileLocked(int fd) {
    // Java's FileChannel.tryLock() takes a POSIX record lock, which this probe sees whatever the
    // descriptor's mode; flock() would not.
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
#if defined(__linux__)
    if (::fcntl(fd, F_OFD_GETLK, &probe) != 0) {
        return std::nullopt;
    }
    return probe.l_type != F_UNLCK;
#else
    if (::fcntl(fd, F_GETLK, &probe) != 0) {
        return std::nullopt;
    }
    if (probe.l_type != F_UNLCK) {
        return true;
    }
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        return errno == EWOULDBLOCK ? std::optional(true) : std::nullopt;
    }
    ::flock(fd, LOCK_UN);
    return false;
#endif
}

ExchangeResult exchangeEntries(int firstFolder, const std::string& first, int secondFolder,
                               const std::string& second) {
#if defined(__linux__)
    if (::renameat2(firstFolder, first.c_str(), secondFolder, second.c_str(), RENAME_EXCHANGE) ==
        0) {
        return ExchangeResult::Exchanged;
    }
    const bool unsupported = errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP;
#elif defined(__APPLE__)
    if (::renameatx_np(firstFolder, first.c_str(), secondFolder, second.c_str(), RENAME_SWAP) ==
        0) {
        return ExchangeResult::Exchanged;
    }
    const bool unsupported = errno == ENOTSUP || errno == EINVAL;
#else
    (void)firstFolder, (void)first, (void)secondFolder, (void)second;
    const bool unsupported = true;
#endif
    return unsupported ? ExchangeResult::Unsupported : ExchangeResult::Failed;
}

bool flushFileSystem(int folder) {
#if defined(__linux__)
    return ::syncfs(folder) == 0;
#elif defined(__APPLE__)
    return ::fcntl(folder, F_FULLFSYNC) != -1 || (::sync(), true);
#else
    (void)folder;
    ::sync();
    return true;
#endif
}

bool hasDefaultAcl(int folder) {
#if defined(__linux__)
    return ::fgetxattr(folder, "system.posix_acl_default", nullptr, 0) > 0;
#else
    (void)folder;
    return false;
#endif
}

std::string randomSuffix() {
    static constexpr char letters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof letters - 2);
    std::string suffix(6, 'x');
    for (char& letter : suffix) {
        letter = letters[pick(generator)];
    }
    return suffix;
}

std::string hostName() {
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0) {
        return "unknown";
    }
    return name.data();
}

} // namespace Plovermantle
