#include "platform/FolderTrees.h"

#include "platform/Descriptors.h"
#include "platform/Paths.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace Plovermantle {

namespace {

class TreeRemoval {
public:
    explicit TreeRemoval(const RemovalFailure& failed) : failed_(failed) {}

    // Removes `name` of the open folder `parent` and what it holds. The top item must be the
    // user's; below it, the superuser removes whatever its own tree holds (it may have given the
    // items to the server's account), anyone else only what they made.
    bool remove(int parent, const std::string& name, const std::string& relative, int depth) {
        struct stat status {};
        if (::fstatat(parent, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            return errno == ENOENT || fail(relative, systemError(errno));
        }
        if (!mayRemove(status, depth)) {
            return fail(relative, FileProblem::ForeignItem);
        }
        if (!S_ISDIR(status.st_mode)) {
            return ::unlinkat(parent, name.c_str(), 0) == 0 || errno == ENOENT ||
                   fail(relative, systemError(errno));
        }
        if (depth >= deepestTree) {
            return fail(relative, systemError(ELOOP));
        }
        const Descriptor folder = openOwnFolder(parent, name, status);
        if (!folder.valid()) {
            return fail(relative, errno == ELOOP || errno == ENOTDIR
                                      ? make_error_code(FileProblem::LinkNotFollowed)
                                      : systemError(errno));
        }
        const auto names = listNames(folder.get());
        if (!names) {
            return fail(relative, systemError(errno));
        }
        bool all = true;
        for (const std::string& inside : *names) {
            all = remove(folder.get(), inside, joinPath(relative, inside), depth + 1) && all;
        }
        return all && (::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT ||
                       fail(relative, systemError(errno)));
    }

private:
    static bool mayRemove(const struct stat& status, int depth) {
        const uid_t user = ::geteuid();
        return status.st_uid == user || (user == 0 && depth > 0);
    }

    // The folder `name`, examined as `seen`, opened and made writable by its owner through its
    // own descriptor; invalid when it is no longer that folder.
    static Descriptor openOwnFolder(int parent, const std::string& name, const struct stat& seen) {
        Descriptor folder(openEntry(parent, name, O_RDONLY | O_DIRECTORY));
        if (!folder.valid() && errno == EACCES) {
            // Not even readable: the bits change on the entry itself, never through a link.
            ::fchmodat(parent, name.c_str(), (seen.st_mode & 07777) | S_IRWXU, AT_SYMLINK_NOFOLLOW);
            folder = Descriptor(openEntry(parent, name, O_RDONLY | O_DIRECTORY));
        }
        struct stat opened {};
        if (!folder.valid() || ::fstat(folder.get(), &opened) != 0) {
            return {};
        }
        if (opened.st_dev != seen.st_dev || opened.st_ino != seen.st_ino ||
            opened.st_uid != seen.st_uid) {
            errno = ENOENT; // exchanged since it was examined
            return {};
        }
        if ((opened.st_mode & S_IRWXU) != S_IRWXU &&
            ::fchmod(folder.get(), (opened.st_mode & 07777) | S_IRWXU) != 0) {
            return {};
        }
        return folder;
    }

    template <typename Error> bool fail(const std::string& relative, Error error) {
        if (failed_) {
            failed_(relative, error);
        }
        return false;
    }

    const RemovalFailure& failed_;
};

struct TreeCount {
    TreeTotals totals;

    bool count(int folder, int depth) {
        ++totals.folders;
        const auto names = listNames(folder);
        if (!names) {
            return false;
        }
        if (depth >= deepestTree) {
            errno = ELOOP;
            return false;
        }
        for (const std::string& name : *names) {
            struct stat status {};
            if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
                return false;
            }
            if (S_ISDIR(status.st_mode)) {
                const Descriptor inside(openEntry(folder, name, O_RDONLY | O_DIRECTORY));
                if (!inside.valid() || !count(inside.get(), depth + 1)) {
                    return false;
                }
            } else if (S_ISREG(status.st_mode)) {
                ++totals.files;
                totals.bytes += static_cast<std::uint64_t>(status.st_size);
            } else if (S_ISLNK(status.st_mode)) {
                ++totals.files;
            }
        }
        return true;
    }
};

} // namespace

bool removeTreeAt(int parent, const std::string& name, const RemovalFailure& failed) {
    return TreeRemoval(failed).remove(parent, name, name, 0);
}

std::optional<TreeTotals> countOpenTree(int folder) {
    TreeCount counted;
    if (!counted.count(folder, 0)) {
        return std::nullopt;
    }
    return counted.totals;
}

} // namespace Plovermantle
