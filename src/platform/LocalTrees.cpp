// Removing and counting trees under a server folder, one open folder at a time: no step goes by
// path, so an entry that another account exchanges for a link meanwhile is never followed.
#include "platform/LocalServerFolder.h"
#include "platform/Paths.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace Plovermantle {

namespace {

class TreeRemoval {
public:
    explicit TreeRemoval(LocalServerFolder& folder) : folder_(folder) {}

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
        folder_.noteFailure({"remove", folder_.pathOf(relative), error});
        return false;
    }

    LocalServerFolder& folder_;
};

} // namespace

bool LocalServerFolder::removeTree(const std::string& relative) {
    const auto parent = openParent(relative, "remove");
    return parent && TreeRemoval(*this).remove(parent->folder.get(), parent->name, relative, 0);
}

std::optional<TreeTotals> LocalServerFolder::countTree(const std::string& relative) {
    const Descriptor folder = openFolder(relative, "count");
    if (!folder.valid()) {
        return std::nullopt;
    }
    auto totals = countOpenTree(folder.get());
    if (!totals) {
        failErrno("count", relative);
    }
    return totals;
}

} // namespace Plovermantle
