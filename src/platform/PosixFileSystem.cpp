#include "platform/PosixFileSystem.h"

#include "platform/Trash.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <climits>
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

std::error_code systemError(int number) {
    return {number, std::system_category()};
}

} // namespace

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

// By hand rather than through QFile or a stream: opened without following a link or blocking, and
// checked on the open descriptor, so that a FIFO or device in the file's place is refused, not
// waited on. A file of more than `maxBytes` is refused, or only its start read.
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
    std::string contents;
    char buffer[1 << 16];
    // One byte past the limit is asked for, so that a file that grew meanwhile shows.
    while (contents.size() <= maxBytes) {
        const ssize_t got =
            ::read(file.get(), buffer, std::min(sizeof buffer, maxBytes + 1 - contents.size()));
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
            if (!startOnly) {
                return std::nullopt;
            }
            contents.resize(maxBytes);
            break;
        }
    }
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
    info.owner = static_cast<std::uint32_t>(status.st_uid);
    info.group = static_cast<std::uint32_t>(status.st_gid);
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

// The file a symbolic link at `path` leads to, when the user running the app owns the link; the
// link's owner and target are read from the one link, so that a link swapped in meanwhile cannot
// pass for it.
std::optional<std::string> PosixFileSystem::ownLinkTarget(const std::string& path) {
    struct stat status {};
    char target[PATH_MAX];
#if defined(__linux__)
    const Descriptor link(::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    const bool examined = link.get() >= 0 && ::fstat(link.get(), &status) == 0;
    const auto readTarget = [&] {
        return ::readlinkat(link.get(), "", target, sizeof target);
    };
#else
    const bool examined = ::lstat(path.c_str(), &status) == 0;
    const auto readTarget = [&] {
        return ::readlink(path.c_str(), target, sizeof target);
    };
#endif
    if (!examined) {
        noteFailure({"read", path, systemError(errno)});
        return std::nullopt;
    }
    if (S_ISLNK(status.st_mode) && status.st_uid != ::geteuid()) {
        noteFailure({"read", path, FileProblem::ForeignLink});
        return std::nullopt;
    }
    const ssize_t length = S_ISLNK(status.st_mode) ? readTarget() : -1;
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof target) {
        noteFailure({"read", path, systemError(length < 0 && errno != 0 ? errno : EINVAL)});
        return std::nullopt;
    }
    // A relative target starts from the link's folder; an absolute one replaces the whole path.
    return (fs::path(path).parent_path() / std::string(target, static_cast<std::size_t>(length)))
        .string();
}

std::optional<TextFile> PosixFileSystem::readTextFile(const std::string& path) {
    // By hand rather than through QFile or a stream: opened without blocking and checked on the
    // open descriptor, so that a FIFO or device in the file's place is refused, not waited on, and
    // opened without following a link, so that only a link of the user's own is followed.
    if (path.find('\0') != std::string::npos) {
        noteFailure({"read", path, systemError(EINVAL)});
        return std::nullopt;
    }
    std::string read = path;
    struct stat linkStatus {};
    if (::lstat(path.c_str(), &linkStatus) == 0 && S_ISLNK(linkStatus.st_mode)) {
        auto target = ownLinkTarget(path);
        if (!target) {
            return std::nullopt;
        }
        read = std::move(*target);
    }
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW;
    const Descriptor file(::open(read.c_str(), flags));
    if (file.get() < 0) {
        // Refused by O_NOFOLLOW: a link to a link, or a link put in the file's place meanwhile.
        noteFailure(
            {"read", read,
             errno == ELOOP ? make_error_code(FileProblem::LinkNotFollowed) : systemError(errno)});
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        noteFailure({"read", read, systemError(errno)});
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        noteFailure({"read", read, FileProblem::NotRegularFile});
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
            noteFailure({"read", read, systemError(errno)});
            return std::nullopt;
        }
        contents.append(buffer, static_cast<std::size_t>(got));
    }
    if (!QByteArrayView(contents.data(), static_cast<qsizetype>(contents.size())).isValidUtf8()) {
        noteFailure({"read", read, FileProblem::NotUtf8Text});
        return std::nullopt;
    }
    return TextFile{std::move(contents), std::move(read), itemInfoFrom(info)};
}

bool PosixFileSystem::writeFileAtomically(const std::string& path, std::string_view contents,
                                          const ItemInfo& like) {
    // By hand rather than through QSaveFile, which follows a link at `path` and leaves the new
    // file's group to the process.
    const auto fail = [&](int error) {
        noteFailure({"write", path, systemError(error)});
        return false;
    };
    const fs::path target(path);
    if (target.filename().empty() || path.find('\0') != std::string::npos) {
        return fail(EINVAL);
    }
    // Appended, not "." + name: GCC 12 at -O3 reports a false -Wrestrict for inserting a literal
    // in front of a temporary string.
    std::string hidden = ".";
    hidden.append(target.filename().string()).append(".XXXXXX");
    std::string temporary = (target.parent_path() / hidden).string();
    // Made with owner-only permissions, so it is never more readable than the file it replaces.
    Descriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.get() < 0) {
        return fail(errno);
    }
    const auto discard = [&](int error) {
        ::unlink(temporary.c_str());
        return fail(error);
    };
    for (std::size_t written = 0; written < contents.size();) {
        const ssize_t put =
            ::write(file.get(), contents.data() + written, contents.size() - written);
        if (put == 0 || (put < 0 && errno != EINTR)) {
            return discard(put == 0 ? EIO : errno);
        }
        written += put > 0 ? static_cast<std::size_t>(put) : 0;
    }
    // The group before the bits, so that the bits apply to the group they were meant for; only
    // the superuser may give a file to another owner.
    const bool superuser = ::geteuid() == 0;
    auto mode = static_cast<mode_t>(like.permissions & 0777);
    if (::fchown(file.get(), superuser ? static_cast<uid_t>(like.owner) : static_cast<uid_t>(-1),
                 static_cast<gid_t>(like.group)) != 0) {
        if (superuser || errno != EPERM) {
            return discard(errno);
        }
        // Not a member of that group: the file stays in the user's own, whose members were
        // "others" to it, so its group bits give no more than the others' did.
        mode = (mode & ~mode_t{0070}) | (mode & ((mode & 0007) << 3));
    }
    if (::fchmod(file.get(), mode) != 0 || ::fsync(file.get()) != 0) {
        return discard(errno);
    }
    if (!file.close()) {
        return discard(errno);
    }
    // rename() replaces whatever is at `path`, a link included, without following it.
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        return discard(errno);
    }
    return true;
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

std::optional<std::vector<std::string>> PosixFileSystem::folderEntries(const std::string& folder) {
    std::error_code error;
    fs::directory_iterator it(fs::path(folder), error);
    std::vector<std::string> names;
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    // Part of a listing would make part of a copy look whole.
    if (error) {
        noteFailure({"list", folder, error});
        return std::nullopt;
    }
    return names;
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

bool PosixFileSystem::makeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), S_IRWXU) != 0) {
        noteFailure({"create folder", path, systemError(errno)});
        return false;
    }
    return true;
}

std::optional<std::string> PosixFileSystem::makeTemporaryFolder(const std::string& parent,
                                                                const std::string& prefix) {
    std::string pattern = (fs::path(parent) / (prefix + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        noteFailure({"create a folder in", parent, systemError(errno)});
        return std::nullopt;
    }
    return pattern;
}

bool PosixFileSystem::copyRegularFile(const std::string& from, const std::string& to,
                                      const ContentProgress& progress) {
    // Non-blocking, so that an item swapped for a pipe since it was examined cannot make the open
    // wait for a writer; the check below then turns it away.
    Descriptor in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    const auto fail = [this](const char* operation, const std::string& path,
                             std::error_code error) {
        noteFailure({operation, path, error});
        return false;
    };
    if (in.get() < 0) {
        return fail("read", from, systemError(errno));
    }
    struct stat status {};
    if (::fstat(in.get(), &status) != 0) {
        return fail("read", from, systemError(errno));
    }
    if (!S_ISREG(status.st_mode)) {
        return fail("read", from, FileProblem::NotRegularFile);
    }
    Descriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          S_IRUSR | S_IWUSR));
    if (out.get() < 0) {
        return fail("create", to, systemError(errno));
    }
    const ItemInfo info = itemInfoFrom(status);
    const timespec times[2] = {toTimespec(info.accessed), toTimespec(info.modified)};
    if (!copyFileContents(in.get(), out.get(), progress)) {
        // A stop asked for is no failure to tell.
        return errno != ECANCELED && fail("copy into", to, systemError(errno));
    }
    if (::fchmod(out.get(), static_cast<mode_t>(info.permissions & 0777)) != 0 ||
        ::futimens(out.get(), times) != 0 || !out.close()) {
        return fail("write", to, systemError(errno));
    }
    return true;
}

std::optional<std::string> PosixFileSystem::readSymlink(const std::string& path) {
    std::error_code error;
    fs::path target = fs::read_symlink(fs::path(path), error);
    if (error) {
        noteFailure({"read link", path, error});
        return std::nullopt;
    }
    return target.string();
}

bool PosixFileSystem::makeSymlink(const std::string& target, const std::string& path) {
    if (::symlink(target.c_str(), path.c_str()) != 0) {
        noteFailure({"create link", path, systemError(errno)});
        return false;
    }
    return true;
}

bool PosixFileSystem::setAttributes(const std::string& path, const ItemInfo& like) {
    const timespec times[2] = {toTimespec(like.accessed), toTimespec(like.modified)};
    if ((like.kind != ItemKind::SymbolicLink &&
         ::chmod(path.c_str(), static_cast<mode_t>(like.permissions)) != 0) ||
        ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        noteFailure({"set permissions and times of", path, systemError(errno)});
        return false;
    }
    return true;
}

bool PosixFileSystem::renameItem(const std::string& from, const std::string& to) {
    if (renameWithoutReplacing(from, to)) {
        return true;
    }
    noteFailure({"move", from + " to " + to, systemError(errno)});
    return false;
}

bool PosixFileSystem::renameWithoutReplacing(const std::string& from, const std::string& to) {
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
    if (::lstat(to.c_str(), &status) == 0) {
        errno = EEXIST;
        return false;
    }
    if (errno != ENOENT) {
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

ExchangeResult PosixFileSystem::exchangeItems(const std::string& first, const std::string& second) {
#if defined(__linux__)
    if (::renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) == 0) {
        return ExchangeResult::Exchanged;
    }
    if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
        return ExchangeResult::Unsupported;
    }
    noteFailure({"exchange", first + " with " + second, systemError(errno)});
    return ExchangeResult::Failed;
#elif defined(__APPLE__)
    if (::renamex_np(first.c_str(), second.c_str(), RENAME_SWAP) == 0) {
        return ExchangeResult::Exchanged;
    }
    if (errno == ENOTSUP || errno == EINVAL) {
        return ExchangeResult::Unsupported;
    }
    noteFailure({"exchange", first + " with " + second, systemError(errno)});
    return ExchangeResult::Failed;
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
    if (!error && ::lstat(path.c_str(), &status) != 0 && errno == ENOENT) {
        return true;
    }
    noteFailure({"remove", path, error ? error : std::make_error_code(std::errc::file_exists)});
    return false;
}

bool PosixFileSystem::flushToDisk(const std::string& path) {
#if defined(__linux__)
    Descriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0 || ::syncfs(folder.get()) != 0) {
        noteFailure({"write to disk", path, systemError(errno)});
        return false;
    }
    return true;
#else
    (void)path;
    ::sync();
    return true;
#endif
}

namespace {

class QtHeldLock : public HeldLock {
public:
    explicit QtHeldLock(const QString& name) : file(name) {}
    QLockFile file;
};

} // namespace

std::optional<TrashedItem> PosixFileSystem::moveToTrash(const std::string& path) {
#ifdef __APPLE__
    const auto name = qtFileName(path);
    QString inTrash;
    if (!name || !QFile::moveToTrash(*name, &inTrash)) {
        return std::nullopt;
    }
    const fs::path moved(QFile::encodeName(inTrash).toStdString());
    if (moved.is_absolute()) {
        return TrashedItem{moved.string(), {}};
    }
    // Accepted only inside a Trash: anywhere else the item goes back where it was.
    renameItem(moved.string(), path);
    return std::nullopt;
#else
    // Our own freedesktop Trash, relative to the item's open folder: Qt's loops where it cannot
    // write a record, leaves the record's path unescaped and follows links.
    const fs::path item(path);
    const std::string parent = item.parent_path().string();
    const std::string name = item.filename().string();
    if (!item.is_absolute() || name.empty() || name == "." || name == "..") {
        noteFailure({"move to the Trash", path, systemError(EINVAL)});
        return std::nullopt;
    }
    const Descriptor folder(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) {
        noteFailure({"open", parent, systemError(errno)});
        return std::nullopt;
    }
    FileFailure failure;
    auto trashed = Plovermantle::moveToTrash(folder.get(), parent, name, &failure);
    if (!trashed) {
        noteFailure(failure);
    }
    return trashed;
#endif
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
            noteFailure({"clear the lock file", file,
                         systemError(S_ISDIR(status.st_mode) ? EISDIR : errno)});
            return {};
        }
    }
    auto held = std::make_unique<QtHeldLock>(*name);
    // A copy can take longer than any fixed age: only a lock whose process is gone is stale.
    held->file.setStaleLockTime(0);
    errno = 0;
    if (held->file.tryLock(0)) {
        return {LockOutcome::Taken, std::move(held)};
    }
    if (held->file.error() == QLockFile::LockFailedError) {
        return {LockOutcome::HeldElsewhere, nullptr};
    }
    // QLockFile tells no reason of its own; the system's is that of its failed open.
    noteFailure({"create the lock file", path, systemError(errno != 0 ? errno : EIO)});
    return {};
}

} // namespace Plovermantle
