#include "platform/LocalServerFolder.h"

#include "platform/FolderTrees.h"
#include "platform/Paths.h"
#include "platform/Trash.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace Plovermantle {

std::unique_ptr<LocalServerFolder> LocalServerFolder::open(const std::string& path,
                                                           FileFailure* failure) {
    Descriptor folder(path.find('\0') == std::string::npos
                          ? ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                          : (errno = EINVAL, -1));
    if (!folder.valid()) {
        if (failure != nullptr) {
            *failure = {"open", path, systemError(errno)};
        }
        return nullptr;
    }
    return std::unique_ptr<LocalServerFolder>(new LocalServerFolder(std::move(folder), path));
}

std::string LocalServerFolder::pathOf(const std::string& relative) const {
    return joinPath(path_, relative);
}

bool LocalServerFolder::fail(const char* operation, const std::string& relative,
                             std::error_code error) {
    noteFailure({operation, pathOf(relative), error});
    return false;
}

bool LocalServerFolder::failErrno(const char* operation, const std::string& relative) {
    // A link met on the way was refused by O_NOFOLLOW, not missing.
    return fail(operation, relative,
                errno == ELOOP ? make_error_code(FileProblem::LinkNotFollowed)
                               : systemError(errno));
}

std::optional<LocalServerFolder::Parent> LocalServerFolder::openParent(const std::string& relative,
                                                                       const char* operation) {
    auto names = splitRelative(relative);
    if (!names || names->empty()) {
        fail(operation, relative, systemError(EINVAL));
        return std::nullopt;
    }
    std::string name = std::move(names->back());
    names->pop_back();
    Descriptor parent = openFolderAt(folder_.get(), *names);
    if (!parent.valid()) {
        failErrno(operation, relative);
        return std::nullopt;
    }
    return Parent{std::move(parent), std::move(name)};
}

Descriptor LocalServerFolder::openFolder(const std::string& relative, const char* operation) {
    const auto names = splitRelative(relative);
    if (!names) {
        fail(operation, relative, systemError(EINVAL));
        return {};
    }
    Descriptor folder = openFolderAt(folder_.get(), *names);
    if (!folder.valid()) {
        failErrno(operation, relative);
    }
    return folder;
}

std::optional<Account> LocalServerFolder::account() {
    Account account{static_cast<std::uint32_t>(::geteuid()), {}};
    account.groups.push_back(static_cast<std::uint32_t>(::getegid()));
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? static_cast<std::size_t>(count) : 0);
    if (count > 0 && ::getgroups(count, groups.data()) == count) {
        for (const gid_t group : groups) {
            account.groups.push_back(static_cast<std::uint32_t>(group));
        }
    }
    return account;
}

std::optional<ItemInfo> LocalServerFolder::itemInfo(const std::string& relative) {
    struct stat status {};
    if (relative.empty()) {
        if (::fstat(folder_.get(), &status) != 0) {
            failErrno("examine", relative);
            return std::nullopt;
        }
        return itemInfoFrom(status);
    }
    const auto names = splitRelative(relative);
    if (!names) {
        fail("examine", relative, systemError(EINVAL));
        return std::nullopt;
    }
    const Descriptor parent =
        openFolderAt(folder_.get(), {names->begin(), std::prev(names->end())});
    const bool examined = parent.valid() && ::fstatat(parent.get(), names->back().c_str(), &status,
                                                      AT_SYMLINK_NOFOLLOW) == 0;
    if (!examined) {
        // A file where a folder should be leaves nothing there either; a link is refused.
        if (errno == ENOENT || (errno == ENOTDIR && !parent.valid())) {
            return ItemInfo{};
        }
        failErrno("examine", relative);
        return std::nullopt;
    }
    return itemInfoFrom(status);
}

std::optional<std::vector<std::string>> LocalServerFolder::entries(const std::string& relative) {
    const Descriptor folder = openFolder(relative, "list");
    if (!folder.valid()) {
        return std::nullopt;
    }
    auto names = listNames(folder.get());
    if (!names) {
        failErrno("list", relative);
    }
    return names;
}

std::optional<std::uint64_t> LocalServerFolder::freeBytes() {
    struct statvfs status {};
    if (::fstatvfs(folder_.get(), &status) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(status.f_bavail) * status.f_frsize;
}

std::optional<std::string> LocalServerFolder::makeTemporaryFolder(const std::string& prefix) {
    const auto parent = openParent(prefix + "XXXXXX", "create a folder in");
    if (!parent) {
        return std::nullopt;
    }
    const std::string stem = parent->name.substr(0, parent->name.size() - 6);
    // Only a name someone else took first is tried again, a bounded number of times.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = stem + randomSuffix();
        if (::mkdirat(parent->folder.get(), name.c_str(), S_IRWXU) == 0) {
            return prefix + name.substr(stem.size());
        }
        if (errno != EEXIST) {
            break;
        }
    }
    failErrno("create a folder in", prefix);
    return std::nullopt;
}

bool LocalServerFolder::makeFolder(const std::string& relative, std::uint32_t permissions) {
    const auto parent = openParent(relative, "create folder");
    if (!parent) {
        return false;
    }
    if (::mkdirat(parent->folder.get(), parent->name.c_str(),
                  static_cast<mode_t>(permissions & 0777)) != 0) {
        return failErrno("create folder", relative);
    }
    return true;
}

bool LocalServerFolder::rename(const std::string& from, const std::string& to) {
    const auto source = openParent(from, "move");
    const auto target = source ? openParent(to, "move") : std::nullopt;
    if (!target) {
        return false;
    }
    if (!renameWithoutReplacing(source->folder.get(), source->name, target->folder.get(),
                                target->name)) {
        noteFailure({"move", pathOf(from) + " to " + pathOf(to), systemError(errno)});
        return false;
    }
    return true;
}

bool LocalServerFolder::setPermissions(const std::string& relative, std::uint32_t permissions) {
    const auto parent = openParent(relative, "set the permissions of");
    if (!parent) {
        return false;
    }
    // Relative to the open parent and never through a link, so that a link exchanged for the item
    // meanwhile is refused rather than followed.
    return ::fchmodat(parent->folder.get(), parent->name.c_str(),
                      static_cast<mode_t>(permissions & 07777), AT_SYMLINK_NOFOLLOW) == 0 ||
           failErrno("set the permissions of", relative);
}

bool LocalServerFolder::flush(const std::string& relative) {
    const Descriptor folder = openFolder(relative, "write to disk");
    return folder.valid() &&
           (flushFileSystem(folder.get()) || failErrno("write to disk", relative));
}

bool LocalServerFolder::removeTree(const std::string& relative) {
    const auto parent = openParent(relative, "remove");
    const std::string above =
        relative.substr(0, relative.size() - (parent ? parent->name.size() : 0));
    return parent && removeTreeAt(parent->folder.get(), parent->name,
                                  [&](const std::string& inside, std::error_code error) {
                                      noteFailure({"remove", pathOf(above + inside), error});
                                  });
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

std::optional<TrashedItem> LocalServerFolder::moveToTrash(const std::string& relative) {
    const auto parent = openParent(relative, "move to the Trash");
    if (!parent) {
        return std::nullopt;
    }
    const std::string::size_type slash = relative.rfind('/');
    const std::string parentPath =
        pathOf(slash == std::string::npos ? std::string() : relative.substr(0, slash));
    FileFailure failure;
    auto trashed =
        Plovermantle::moveToTrash(parent->folder.get(), parentPath, parent->name, &failure);
    if (!trashed && failure.error) {
        noteFailure(std::move(failure));
    }
    return trashed;
}

bool LocalServerFolder::restoreFromTrash(const TrashedItem& trashed, const std::string& relative) {
    const auto parent = openParent(relative, "restore from the Trash");
    if (!parent) {
        return false;
    }
    if (!Plovermantle::restoreFromTrash(trashed, parent->folder.get(), parent->name)) {
        return fail("restore from the Trash", relative, systemError(errno != 0 ? errno : EIO));
    }
    return true;
}

} // namespace Plovermantle
