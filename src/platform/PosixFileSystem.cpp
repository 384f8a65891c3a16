// The file system's files: listing a folder, reading a file within bounds and replacing one in a
// single step. Trees, the Trash and locks each have a file of their own beside this one.
#include "platform/PosixFileSystem.h"

#include "platform/Descriptors.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Plovermantle {

std::optional<QString> PosixFileSystem::qtFileName(const std::string& path) {
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

// The file a symbolic link at `path` leads to, when the user running the app owns the link; the
// link's owner and target are read from the one link, so that a link swapped in meanwhile cannot
// pass for it.
std::optional<std::string> PosixFileSystem::ownLinkTarget(const std::string& path) {
    const auto link = readLink(AT_FDCWD, path);
    if (!link) {
        noteFailure({"read", path, systemError(errno)});
        return std::nullopt;
    }
    if (link->owner != ::geteuid()) {
        noteFailure({"read", path, FileProblem::ForeignLink});
        return std::nullopt;
    }
    // A relative target starts from the link's folder; an absolute one replaces the whole path.
    return (fs::path(path).parent_path() / link->target).string();
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
    // Whole: the callers that need a bound ask for one through readFile.
    auto whole = readAtMost(file.get(), std::numeric_limits<std::size_t>::max() - 1);
    if (!whole) {
        noteFailure({"read", read, systemError(errno)});
        return std::nullopt;
    }
    std::string contents = std::move(*whole);
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

} // namespace Plovermantle
