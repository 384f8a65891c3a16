// Our own freedesktop Trash rather than GIO's g_file_trash: it moves the entry relative to the
// folder descriptor the caller holds (no path to race on), and adds no GLib dependency.
#include "platform/Trash.h"

#include "platform/Descriptors.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace Plovermantle {

namespace {

constexpr const char* recordSuffix = ".trashinfo";
constexpr std::size_t recordSuffixLength = 10;
// Names tried in one Trash before giving up: a full Trash must not keep us busy.
constexpr int nameAttempts = 100;
// Folders climbed to find the top of the entry's file system.
constexpr int maxDepth = 1024;
#ifdef O_PATH
constexpr int pathOnly = O_PATH;
#else
constexpr int pathOnly = O_RDONLY;
#endif

void note(FileFailure* failure, std::string operation, std::string path, std::error_code error) {
    if (failure) {
        *failure = {std::move(operation), std::move(path), error};
    }
}

bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
}

// A Trash folder of ours: made if missing (only its owner may use it), opened without following a
// link, and refused unless it is a folder the user owns.
Descriptor openOwnFolder(int parentFd, const std::string& name, const std::string& path,
                         FileFailure* failure) {
    if (::mkdirat(parentFd, name.c_str(), 0700) != 0 && errno != EEXIST) {
        note(failure, "create the Trash folder", path, systemError(errno));
        return Descriptor();
    }
    Descriptor folder(
        ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (folder.get() < 0) {
        const int error = errno;
        const bool link = ::fstatat(parentFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                          S_ISLNK(status.st_mode);
        note(failure, "open the Trash folder", path,
             link ? make_error_code(FileProblem::LinkNotFollowed) : systemError(error));
        return Descriptor();
    }
    if (::fstat(folder.get(), &status) != 0 || status.st_uid != ::geteuid()) {
        note(failure, "use the Trash folder of another account", path, systemError(EACCES));
        return Descriptor();
    }
    return folder;
}

// A Trash: its path, and its `files` and `info` folders.
struct TrashFolder {
    std::string path;
    Descriptor files;
    Descriptor info;
};

std::optional<TrashFolder> openTrash(int parentFd, const std::string& name, const std::string& path,
                                     FileFailure* failure) {
    const Descriptor trash = openOwnFolder(parentFd, name, path, failure);
    if (trash.get() < 0) {
        return std::nullopt;
    }
    TrashFolder opened{path, Descriptor(), Descriptor()};
    opened.files = openOwnFolder(trash.get(), "files", joinPath(path, "files"), failure);
    if (opened.files.get() < 0) {
        return std::nullopt;
    }
    opened.info = openOwnFolder(trash.get(), "info", joinPath(path, "info"), failure);
    if (opened.info.get() < 0) {
        return std::nullopt;
    }
    return opened;
}

// $XDG_DATA_HOME when it is absolute (a relative one is to be ignored), else ~/.local/share.
std::string dataHome() {
    const char* set = std::getenv("XDG_DATA_HOME");
    if (set && set[0] == '/') {
        return set;
    }
    return joinPath(QFile::encodeName(QDir::homePath()).toStdString(), ".local/share");
}

// The home Trash's folder, made with every folder above it as needed.
std::optional<TrashFolder> openHomeTrash(FileFailure* failure) {
    const std::string data = dataHome();
    std::string made;
    for (std::size_t at = 1; at <= data.size(); ++at) {
        if (at == data.size() || data[at] == '/') {
            made = data.substr(0, at);
            if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) {
                note(failure, "create the folder", made, systemError(errno));
                return std::nullopt;
            }
        }
    }
    const Descriptor parent(::open(data.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.get() < 0) {
        note(failure, "open the folder", data, systemError(errno));
        return std::nullopt;
    }
    return openTrash(parent.get(), "Trash", joinPath(data, "Trash"), failure);
}

// The device the home Trash is on, or would be: that of the nearest folder above it that exists.
std::optional<dev_t> homeTrashDevice() {
    std::string path = joinPath(dataHome(), "Trash");
    for (;;) {
        struct stat status {};
        if (::stat(path.c_str(), &status) == 0) {
            return status.st_dev;
        }
        if (path == "/" || path.empty()) {
            return std::nullopt;
        }
        const std::size_t slash = path.find_last_of('/');
        path.resize(slash == 0 ? 1 : slash);
    }
}

// The top folder of the file system that holds the folder `parentFd`, found by climbing its
// parents' descriptors; with its path, and the parent's path relative to it.
struct Topdir {
    Descriptor folder;
    std::string path;
    std::string parentRelative;
};

std::optional<Topdir> findTopdir(int parentFd, const std::string& parentPath,
                                 FileFailure* failure) {
    struct stat here {};
    if (::fstat(parentFd, &here) != 0) {
        note(failure, "examine", parentPath, systemError(errno));
        return std::nullopt;
    }
    Descriptor current(::fcntl(parentFd, F_DUPFD_CLOEXEC, 0));
    struct stat currentStatus = here;
    int climbed = 0;
    for (;; ++climbed) {
        if (current.get() < 0 || climbed == maxDepth) {
            note(failure, "find the top of the file system holding", parentPath,
                 systemError(current.get() < 0 ? errno : ELOOP));
            return std::nullopt;
        }
        // Only to look at and to reach: a folder above that we may not list can still be passed.
        Descriptor up(
            ::openat(current.get(), "..", pathOnly | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat upStatus {};
        if (up.get() < 0 || ::fstat(up.get(), &upStatus) != 0) {
            note(failure, "find the top of the file system holding", parentPath,
                 systemError(errno));
            return std::nullopt;
        }
        if (upStatus.st_dev != here.st_dev ||
            (upStatus.st_ino == currentStatus.st_ino && upStatus.st_dev == currentStatus.st_dev)) {
            break;
        }
        current = std::move(up);
        currentStatus = upStatus;
    }
    // The top's path: the parent's real path less as many folders as were climbed, checked to be
    // the folder reached.
    char* real = ::realpath(parentPath.c_str(), nullptr);
    std::string path = real ? real : "";
    std::free(real);
    struct stat status {};
    if (path.empty() || ::stat(path.c_str(), &status) != 0 || status.st_dev != here.st_dev ||
        status.st_ino != here.st_ino) {
        note(failure, "find the top of the file system holding", parentPath, systemError(ENOENT));
        return std::nullopt;
    }
    std::string relative;
    for (int i = 0; i < climbed; ++i) {
        const std::size_t slash = path.find_last_of('/');
        relative =
            relative.empty() ? path.substr(slash + 1) : path.substr(slash + 1) + '/' + relative;
        path.resize(slash == 0 ? 1 : slash);
    }
    if (::stat(path.c_str(), &status) != 0 || status.st_dev != currentStatus.st_dev ||
        status.st_ino != currentStatus.st_ino) {
        note(failure, "find the top of the file system holding", parentPath, systemError(ENOENT));
        return std::nullopt;
    }
    return Topdir{std::move(current), std::move(path), std::move(relative)};
}

// $topdir/.Trash/$uid when $topdir/.Trash is a real folder with the sticky bit, else
// $topdir/.Trash-$uid.
std::optional<TrashFolder> openTopdirTrash(const Topdir& top, FileFailure* failure) {
    const std::string uid = std::to_string(::geteuid());
    struct stat shared {};
    if (::fstatat(top.folder.get(), ".Trash", &shared, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(shared.st_mode) && (shared.st_mode & S_ISVTX) != 0) {
        const Descriptor sharedFd(
            ::openat(top.folder.get(), ".Trash", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat opened {};
        if (sharedFd.get() >= 0 && ::fstat(sharedFd.get(), &opened) == 0 &&
            (opened.st_mode & S_ISVTX) != 0) {
            if (auto trash =
                    openTrash(sharedFd.get(), uid, joinPath(top.path, ".Trash/" + uid), failure)) {
                return trash;
            }
        }
    }
    return openTrash(top.folder.get(), ".Trash-" + uid, joinPath(top.path, ".Trash-" + uid),
                     failure);
}

// Every byte but the unreserved ones and '/' as %XX.
std::string percentEncoded(const std::string& path) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
            (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
            c == '/') {
            out += c;
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        }
    }
    return out;
}

std::string localTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::array<char, 32> text{};
    std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%S", &local);
    return text.data();
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

// Renames without replacing; where the file system cannot promise that, only after looking.
int renameNoReplace(int fromFd, const char* from, int toFd, const char* to) {
#ifdef __linux__
    if (::renameat2(fromFd, from, toFd, to, RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return -1;
    }
#endif
    struct stat existing {};
    if (::fstatat(toFd, to, &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::renameat(fromFd, from, toFd, to);
}

// `name` cut to at most `bytes`, where no UTF-8 character is split.
std::string shortened(const std::string& name, std::size_t bytes) {
    if (name.size() <= bytes) {
        return name;
    }
    std::size_t cut = bytes;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    // Bytes that are not UTF-8 have no characters to keep whole.
    return name.substr(0, cut == 0 ? bytes : cut);
}

// The name the attempt'th try gives the item in the Trash: its own, then numbered, then with
// random letters, so that a Trash full of namesakes takes a bounded number of tries.
std::string candidateName(const std::string& name, int attempt, std::size_t nameMax,
                          std::mt19937& random) {
    std::string suffix;
    if (attempt > 0 && attempt < 10) {
        suffix = '.' + std::to_string(attempt + 1);
    } else if (attempt >= 10) {
        static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        suffix = '.';
        for (int i = 0; i < 8; ++i) {
            suffix += letters[random() % (sizeof letters - 1)];
        }
    }
    const std::size_t room = nameMax - recordSuffixLength - suffix.size();
    return shortened(name, room) + suffix;
}

enum class Attempt { Moved, Failed, CrossDevice };

Attempt moveInto(TrashFolder& trash, int parentFd, const std::string& name,
                 const std::string& recordPath, TrashedItem& trashed, FileFailure* failure) {
    const long limit = ::fpathconf(trash.info.get(), _PC_NAME_MAX);
    std::size_t nameMax = limit > 0 ? static_cast<std::size_t>(limit) : NAME_MAX;
    if (nameMax < recordSuffixLength + 16) {
        note(failure, "name a Trash record in", joinPath(trash.path, "info"),
             systemError(ENAMETOOLONG));
        return Attempt::Failed;
    }
    const std::string contents = "[Trash Info]\nPath=" + percentEncoded(recordPath) +
                                 "\nDeletionDate=" + localTimeNow() + "\n";
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < nameAttempts; ++attempt) {
        const std::string inTrash = candidateName(name, attempt, nameMax, random);
        const std::string record = inTrash + recordSuffix;
        const Descriptor file(::openat(trash.info.get(), record.c_str(),
                                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (file.get() < 0 && errno == EEXIST) {
            continue;
        }
        if (file.get() < 0 && errno == ENAMETOOLONG && nameMax > recordSuffixLength + 32) {
            nameMax -= 16; // a file system that allows less than it says
            continue;
        }
        const std::string recordFile = joinPath(joinPath(trash.path, "info"), record);
        if (file.get() < 0) {
            note(failure, "create the Trash record", recordFile, systemError(errno));
            return Attempt::Failed;
        }
        const auto dropRecord = [&] {
            ::unlinkat(trash.info.get(), record.c_str(), 0);
        };
        if (!writeAll(file.get(), contents) || ::fsync(file.get()) != 0) {
            note(failure, "write the Trash record", recordFile, systemError(errno));
            dropRecord();
            return Attempt::Failed;
        }
        if (renameNoReplace(parentFd, name.c_str(), trash.files.get(), inTrash.c_str()) == 0) {
            trashed = {joinPath(joinPath(trash.path, "files"), inTrash), recordFile};
            return Attempt::Moved;
        }
        const int error = errno;
        dropRecord();
        if (error == EEXIST || error == ENOTEMPTY) {
            continue; // something in `files` without a record, a dangling link even
        }
        note(failure, "move to the Trash", joinPath(joinPath(trash.path, "files"), inTrash),
             systemError(error));
        return error == EXDEV ? Attempt::CrossDevice : Attempt::Failed;
    }
    note(failure, "find a free name in the Trash", joinPath(trash.path, "files"),
         systemError(EEXIST));
    return Attempt::Failed;
}

} // namespace

std::optional<TrashedItem> moveToTrash(int parentFd, const std::string& parentPath,
                                       const std::string& name, FileFailure* failure) {
    const std::string path = joinPath(parentPath, name);
    if (!isPlainName(name) || !parentPath.starts_with('/') ||
        parentPath.find('\0') != std::string::npos) {
        note(failure, "move to the Trash", path, systemError(EINVAL));
        return std::nullopt;
    }
    struct stat entry {};
    if (::fstatat(parentFd, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
        note(failure, "move to the Trash", path, systemError(errno));
        return std::nullopt;
    }
    TrashedItem trashed;
    // The home Trash takes what is on its own file system; a bind mount of it still refuses the
    // move, and then the top of the entry's mount is tried as for any other file system.
    if (homeTrashDevice() == entry.st_dev) {
        auto home = openHomeTrash(failure);
        if (!home) {
            return std::nullopt;
        }
        const Attempt moved = moveInto(*home, parentFd, name, path, trashed, failure);
        if (moved == Attempt::Moved) {
            return trashed;
        }
        if (moved == Attempt::Failed) {
            return std::nullopt;
        }
    }
    const auto top = findTopdir(parentFd, parentPath, failure);
    if (!top) {
        return std::nullopt;
    }
    auto trash = openTopdirTrash(*top, failure);
    if (!trash) {
        return std::nullopt;
    }
    const std::string relative =
        top->parentRelative.empty() ? name : top->parentRelative + '/' + name;
    if (moveInto(*trash, parentFd, name, relative, trashed, failure) == Attempt::Moved) {
        return trashed;
    }
    return std::nullopt;
}

bool restoreFromTrash(const TrashedItem& trashed, int parentFd, const std::string& name) {
    const std::size_t slash = trashed.path.find_last_of('/');
    const std::size_t recordSlash = trashed.record.find_last_of('/');
    if (!isPlainName(name) || slash == std::string::npos || slash == 0 ||
        recordSlash == std::string::npos || !trashed.record.ends_with(recordSuffix)) {
        return false;
    }
    const auto openFolder = [](const std::string& path) {
        return Descriptor(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    };
    const Descriptor files = openFolder(trashed.path.substr(0, slash));
    if (files.get() < 0 || renameNoReplace(files.get(), trashed.path.c_str() + slash + 1, parentFd,
                                           name.c_str()) != 0) {
        return false;
    }
    // The item is back; a record that cannot go only shows a ghost in the file manager.
    const Descriptor info = openFolder(trashed.record.substr(0, recordSlash));
    if (info.get() >= 0) {
        ::unlinkat(info.get(), trashed.record.c_str() + recordSlash + 1, 0);
    }
    return true;
}

} // namespace Plovermantle
