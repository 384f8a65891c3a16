#include "platform/PosixFileSystem.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QSaveFile>
#include <QString>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Plovermantle {

namespace {

// Qt names files by QString. A path whose bytes do not come back unchanged from that trip (not
// UTF-8, or holding a NUL) would name some other file, so it is refused instead.
std::optional<QString> qtFileName(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    const QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
    QString name = QFile::decodeName(bytes);
    if (QFile::encodeName(name) != bytes) {
        return std::nullopt;
    }
    return name;
}

// Closes the file descriptor it holds when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now, so that a failure to write back (reported only here on some file systems)
    // counts.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

} // namespace

std::optional<std::vector<ListedEntry>> PosixFileSystem::listFolder(const std::string& folder) {
    // By hand rather than through std::filesystem: each entry is examined relative to the open
    // folder, which with a thousand worlds takes half the time, time the window waits for.
    if (folder.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    DIR* const dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
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

// By hand rather than through QFile or a stream: opened without blocking and checked on the open
// descriptor, so that a FIFO or device in the file's place is refused, not waited on.
std::optional<std::string> readRegularFile(const std::string& path, int extraFlags,
                                           std::size_t maxBytes) {
    if (path.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | extraFlags));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uintmax_t>(info.st_size) > maxBytes) {
        return std::nullopt;
    }
    std::string contents;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got == 0) {
            break;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        contents.append(buffer, static_cast<std::size_t>(got));
        // The file may grow while it is read.
        if (contents.size() > maxBytes) {
            return std::nullopt;
        }
    }
    return contents;
}

} // namespace

std::optional<std::string> PosixFileSystem::readTextFile(const std::string& path) {
    std::optional<std::string> contents = readRegularFile(path, 0, SIZE_MAX);
    if (contents &&
        !QByteArrayView(contents->data(), static_cast<qsizetype>(contents->size())).isValidUtf8()) {
        return std::nullopt;
    }
    return contents;
}

std::optional<std::string> PosixFileSystem::readFile(const std::string& path,
                                                     std::size_t maxBytes) {
    return readRegularFile(path, O_NOFOLLOW, maxBytes);
}

bool PosixFileSystem::writeFileAtomically(const std::string& path, std::string_view contents) {
    // QSaveFile writes a temporary file in the target's folder and renames it over the target on
    // commit; it copies the old file's permissions and follows a symbolic link to its file.
    const auto name = qtFileName(path);
    if (!name) {
        return false;
    }
    QSaveFile file(*name);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    const auto size = static_cast<qint64>(contents.size());
    if (file.write(contents.data(), size) != size) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

namespace {

FileTime fileTime(const timespec& time) {
    return {static_cast<std::int64_t>(time.tv_sec), static_cast<std::int64_t>(time.tv_nsec)};
}

timespec toTimespec(const FileTime& time) {
    timespec converted{};
    converted.tv_sec = static_cast<time_t>(time.seconds);
    converted.tv_nsec = static_cast<long>(time.nanoseconds);
    return converted;
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
    info.modified = fileTime(status.st_mtimespec);
#else
    info.accessed = fileTime(status.st_atim);
    info.modified = fileTime(status.st_mtim);
#endif
    info.device = static_cast<std::uint64_t>(status.st_dev);
    info.inode = static_cast<std::uint64_t>(status.st_ino);
    return info;
}

// Lets the owner into every folder of a tree, so that a tree holding read-only folders can still be
// removed by a user who is not the superuser.
void makeRemovable(const fs::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return;
    }
    ::chmod(path.c_str(), (status.st_mode & 07777) | S_IRWXU);
    std::error_code error;
    for (fs::directory_iterator it(path, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        makeRemovable(it->path());
    }
}

} // namespace

std::optional<ItemInfo> PosixFileSystem::itemInfo(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return ItemInfo{};
        }
        return std::nullopt;
    }
    return itemInfoFrom(status);
}

std::optional<std::vector<std::string>> PosixFileSystem::folderEntries(const std::string& folder) {
    std::error_code error;
    fs::directory_iterator it(fs::path(folder), error);
    std::vector<std::string> names;
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    // Part of a listing would make part of a copy look whole.
    if (error) {
        return std::nullopt;
    }
    return names;
}

std::optional<std::string> PosixFileSystem::canonicalPath(const std::string& path) {
    std::error_code error;
    fs::path resolved = fs::canonical(fs::path(path), error);
    if (error) {
        return std::nullopt;
    }
    return resolved.string();
}

bool PosixFileSystem::makeFolder(const std::string& path) {
    return ::mkdir(path.c_str(), S_IRWXU) == 0;
}

std::optional<std::string> PosixFileSystem::makeTemporaryFolder(const std::string& parent,
                                                                const std::string& prefix) {
    std::string pattern = (fs::path(parent) / (prefix + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        return std::nullopt;
    }
    return pattern;
}

bool PosixFileSystem::copyRegularFile(const std::string& from, const std::string& to,
                                      const ContentProgress& progress) {
    // Non-blocking, so that an item swapped for a pipe since it was examined cannot make the open
    // wait for a writer; the check below then turns it away.
    Descriptor in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (in.get() < 0) {
        return false;
    }
    struct stat status {};
    if (::fstat(in.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return false;
    }
    Descriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          S_IRUSR | S_IWUSR));
    if (out.get() < 0) {
        return false;
    }
    const ItemInfo info = itemInfoFrom(status);
    const timespec times[2] = {toTimespec(info.accessed), toTimespec(info.modified)};
    bool copied = copyFileContents(in.get(), out.get(), progress) &&
                  ::fchmod(out.get(), static_cast<mode_t>(info.permissions)) == 0 &&
                  ::futimens(out.get(), times) == 0;
    copied = out.close() && copied;
    return copied;
}

std::optional<std::string> PosixFileSystem::readSymlink(const std::string& path) {
    std::error_code error;
    fs::path target = fs::read_symlink(fs::path(path), error);
    if (error) {
        return std::nullopt;
    }
    return target.string();
}

bool PosixFileSystem::makeSymlink(const std::string& target, const std::string& path) {
    return ::symlink(target.c_str(), path.c_str()) == 0;
}

bool PosixFileSystem::setAttributes(const std::string& path, const ItemInfo& like) {
    if (like.kind != ItemKind::SymbolicLink &&
        ::chmod(path.c_str(), static_cast<mode_t>(like.permissions)) != 0) {
        return false;
    }
    const timespec times[2] = {toTimespec(like.accessed), toTimespec(like.modified)};
    return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool PosixFileSystem::renameItem(const std::string& from, const std::string& to) {
#if defined(__linux__)
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return false;
    }
#elif defined(__APPLE__)
    if (::renamex_np(from.c_str(), to.c_str(), RENAME_EXCL) == 0) {
        return true;
    }
    if (errno != ENOTSUP) {
        return false;
    }
#endif
    // The file system cannot refuse to replace by itself: look first. Only our own hidden names
    // could appear in between.
    struct stat status {};
    if (::lstat(to.c_str(), &status) == 0 || errno != ENOENT) {
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

ExchangeResult PosixFileSystem::exchangeItems(const std::string& first, const std::string& second) {
#if defined(__linux__)
    if (::renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) == 0) {
        return ExchangeResult::Exchanged;
    }
    return errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ? ExchangeResult::Unsupported
                                                                     : ExchangeResult::Failed;
#elif defined(__APPLE__)
    if (::renamex_np(first.c_str(), second.c_str(), RENAME_SWAP) == 0) {
        return ExchangeResult::Exchanged;
    }
    return errno == ENOTSUP || errno == EINVAL ? ExchangeResult::Unsupported
                                               : ExchangeResult::Failed;
#else
    (void)first;
    (void)second;
    return ExchangeResult::Unsupported;
#endif
}

bool PosixFileSystem::removeTree(const std::string& path) {
    std::error_code error;
    fs::remove_all(fs::path(path), error);
    if (error == std::errc::permission_denied) {
        makeRemovable(path);
        error.clear();
        fs::remove_all(fs::path(path), error);
    }
    struct stat status {};
    return !error && ::lstat(path.c_str(), &status) != 0 && errno == ENOENT;
}

bool PosixFileSystem::flushToDisk(const std::string& path) {
#if defined(__linux__)
    Descriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder.get() >= 0 && ::syncfs(folder.get()) == 0;
#else
    (void)path;
    ::sync();
    return true;
#endif
}

} // namespace Plovermantle
