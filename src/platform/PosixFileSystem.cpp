#include "platform/PosixFileSystem.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Plovermantle {

namespace {

bool isHidden(const fs::path& path, const std::string& name) {
    if (name.starts_with('.')) {
        return true;
    }
#ifdef __APPLE__
    // Finder also hides entries carrying the hidden flag.
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && (info.st_flags & UF_HIDDEN) != 0) {
        return true;
    }
#else
    (void)path;
#endif
    return false;
}

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
    std::error_code error;
    fs::directory_iterator it(fs::path(folder), error);
    if (error) {
        return std::nullopt;
    }
    std::vector<ListedEntry> entries;
    // An error part-way through ends the listing with what was read so far.
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const fs::path& path = it->path();
        std::string name = path.filename().string();
        if (isHidden(path, name)) {
            continue;
        }
        ListedEntry entry{std::move(name), std::nullopt};
        // Asked afresh rather than from the listing's cached type, so that an entry removed since
        // the folder was read shows as unreadable instead of as a folder.
        std::error_code statError;
        const fs::file_status status = fs::symlink_status(path, statError);
        if (!statError && status.type() != fs::file_type::not_found) {
            entry.isDirectory = status.type() == fs::file_type::directory;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

namespace {

// At most `maxBytes` of the regular file at `path`. By hand rather than through QFile or a stream:
// opened without blocking and checked on the open descriptor, so that a FIFO or device in the
// file's place is refused, not waited on.
std::optional<std::string> readRegularFile(const std::string& path, std::size_t maxBytes) {
    if (path.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    std::string contents;
    char buffer[1 << 16];
    while (contents.size() < maxBytes) {
        const ssize_t got =
            ::read(file.get(), buffer, std::min(sizeof buffer, maxBytes - contents.size()));
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
    }
    return contents;
}

} // namespace

std::optional<std::string> PosixFileSystem::readTextFile(const std::string& path) {
    std::optional<std::string> contents = readRegularFile(path, std::string().max_size());
    if (!contents ||
        !QByteArrayView(contents->data(), static_cast<qsizetype>(contents->size())).isValidUtf8()) {
        return std::nullopt;
    }
    return contents;
}

std::optional<std::string> PosixFileSystem::readFileStart(const std::string& path,
                                                          std::size_t maxBytes) {
    return readRegularFile(path, maxBytes);
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
    info.ownedByUser = status.st_uid == ::geteuid();
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

namespace {

#ifndef __APPLE__
// Qt looks for the home Trash without making the folders above it, and where they are missing it
// moves the item into a relative "files" folder of the current directory and calls that a
// success: the Trash is made first, as a file manager would. Answers whether it is there.
bool makeHomeTrash() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty() || !QDir::isAbsolutePath(data) || !QDir().mkpath(data)) {
        return false;
    }
    bool made = true;
    for (const char* folder : {"/Trash", "/Trash/files", "/Trash/info"}) {
        const QByteArray path = QFile::encodeName(data + QLatin1String(folder));
        struct stat status {};
        ::mkdir(path.constData(), S_IRWXU);
        made = made && ::lstat(path.constData(), &status) == 0 && S_ISDIR(status.st_mode);
    }
    return made;
}

// Where the record of an item moved to `moved` lies, when it is a freedesktop Trash's
// "<trash>/files/<name>": "<trash>/info/<name>.trashinfo".
std::string trashRecordOf(const fs::path& moved) {
    const fs::path files = moved.parent_path();
    if (files.filename() != "files") {
        return {};
    }
    return (files.parent_path() / "info" / (moved.filename().string() + ".trashinfo")).string();
}
#endif

bool isRegularFile(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

class QtHeldLock : public HeldLock {
public:
    explicit QtHeldLock(const QString& name) : file(name) {}
    QLockFile file;
};

} // namespace

std::optional<TrashedItem> PosixFileSystem::moveToTrash(const std::string& path) {
    const auto name = qtFileName(path);
    if (!name) {
        return std::nullopt;
    }
#ifndef __APPLE__
    // Without a home Trash, Qt would use that relative folder for anything it cannot trash on the
    // item's own disk.
    if (!makeHomeTrash()) {
        return std::nullopt;
    }
#endif
    QString inTrash;
    if (!QFile::moveToTrash(*name, &inTrash)) {
        return std::nullopt;
    }
    const QByteArray encoded = QFile::encodeName(inTrash);
    const fs::path moved(encoded.toStdString());
#ifdef __APPLE__
    const std::string record;
    const bool inATrash = moved.is_absolute();
#else
    const std::string record = trashRecordOf(moved);
    const bool inATrash = moved.is_absolute() && !record.empty() && isRegularFile(record);
#endif
    if (inATrash) {
        return TrashedItem{moved.string(), record};
    }
    // Accepted only inside a Trash: anywhere else the item goes back where it was.
    if (renameItem(moved.string(), path) && !record.empty() && isRegularFile(record)) {
        ::unlink(record.c_str());
    }
    return std::nullopt;
}

bool PosixFileSystem::isLockHeld(const std::string& path) {
    // Never through a planted link, and never waiting on a pipe.
    const Descriptor file(
        ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) {
        return false;
    }
    // Java's FileChannel.tryLock() takes a POSIX record lock, which F_GETLK sees whatever the
    // descriptor's mode; flock() would not.
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    return ::fcntl(file.get(), F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

LockAttempt PosixFileSystem::lockExclusively(const std::string& path) {
    const auto name = qtFileName(path);
    if (!name) {
        return {};
    }
    // QLockFile creates its file exclusively, but reads one already there to judge whether its
    // holder lives, following a link and waiting on a pipe: only a small regular file may stay.
    // The same goes for the file it takes to remove a stale lock.
    constexpr off_t lockFileAtMost = 4096;
    for (const std::string& file : {path, path + ".rmlock"}) {
        struct stat status {};
        if (::lstat(file.c_str(), &status) == 0 &&
            (!S_ISREG(status.st_mode) || status.st_size > lockFileAtMost) &&
            (S_ISDIR(status.st_mode) || ::unlink(file.c_str()) != 0)) {
            return {};
        }
    }
    auto held = std::make_unique<QtHeldLock>(*name);
    // A copy can take longer than any fixed age: only a lock whose process is gone is stale.
    held->file.setStaleLockTime(0);
    if (held->file.tryLock(0)) {
        return {LockOutcome::Taken, std::move(held)};
    }
    return {held->file.error() == QLockFile::LockFailedError ? LockOutcome::HeldElsewhere
                                                             : LockOutcome::Failed,
            nullptr};
}

} // namespace Plovermantle
