// The file system's trees: the items a copy makes, renames and exchanges, and removing a tree.
#include "platform/Descriptors.h"
#include "platform/FolderTrees.h"
#include "platform/PosixFileSystem.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Plovermantle {

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
    // The bits go to the item itself: a link put in its place is refused, never followed.
    if ((like.kind != ItemKind::SymbolicLink &&
         ::fchmodat(AT_FDCWD, path.c_str(), static_cast<mode_t>(like.permissions),
                    AT_SYMLINK_NOFOLLOW) != 0) ||
        ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        noteFailure({"set permissions and times of", path, systemError(errno)});
        return false;
    }
    return true;
}

bool PosixFileSystem::renameItem(const std::string& from, const std::string& to) {
    if (Plovermantle::renameWithoutReplacing(AT_FDCWD, from, AT_FDCWD, to)) {
        return true;
    }
    noteFailure({"move", from + " to " + to, systemError(errno)});
    return false;
}

ExchangeResult PosixFileSystem::exchangeItems(const std::string& first, const std::string& second) {
    const ExchangeResult result = exchangeEntries(AT_FDCWD, first, AT_FDCWD, second);
    if (result == ExchangeResult::Failed) {
        noteFailure({"exchange", first + " with " + second, systemError(errno)});
    }
    return result;
}

bool PosixFileSystem::removeTree(const std::string& path) {
    // Walked by descriptors from the folder holding it, so that an entry exchanged for a link
    // while it goes is never followed.
    const fs::path item(path);
    const std::string parent = item.has_parent_path() ? item.parent_path().string() : ".";
    const std::string name = item.filename().string();
    const Descriptor folder(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (name.empty() || path.find('\0') != std::string::npos || !folder.valid()) {
        noteFailure({"remove", path, systemError(folder.valid() ? EINVAL : errno)});
        return false;
    }
    return removeTreeAt(folder.get(), name, [&](const std::string& inside, std::error_code error) {
        noteFailure({"remove", (fs::path(parent) / inside).string(), error});
    });
}

bool PosixFileSystem::flushToDisk(const std::string& path) {
    const Descriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid() || !flushFileSystem(folder.get())) {
        noteFailure({"write to disk", path, systemError(errno)});
        return false;
    }
    return true;
}

} // namespace Plovermantle
