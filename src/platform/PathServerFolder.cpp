// TEMPORARY: see PathServerFolder.h.
#include "platform/PathServerFolder.h"

#include "platform/FileContentCopy.h"
#include "platform/Paths.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLockFile>
#include <QString>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace Plovermantle {

namespace {

std::error_code systemError(int error) {
    return {error, std::generic_category()};
}

timespec toTimespec(const FileTime& time) {
    return {static_cast<time_t>(time.seconds), static_cast<long>(time.nanoseconds)};
}

// Permission bits a copy keeps: no set-id or sticky bit, group write where the owner may write
// when the plan asks for it.
mode_t keptBits(std::uint32_t permissions, const OwnershipPlan& plan) {
    mode_t bits = permissions & 0777;
    if (plan.groupWritable && (bits & S_IWUSR) != 0) {
        bits |= S_IWGRP;
    }
    return bits;
}

class PathSink : public TreeSink {
public:
    PathSink(ServerFolder& folder, std::string root, OwnershipPlan plan)
        : folder_(folder), root_(std::move(root)), plan_(plan) {}

    bool makeFolder(const TransferItem& item) override {
        const std::string to = joinPath(root_, item.relativePath);
        if (::mkdir(to.c_str(), 0700) != 0) {
            return failed("create the folder", to);
        }
        folders_.push_back(item);
        return own(to, true);
    }
    bool writeFile(const TransferItem& item, FileContent& content,
                   const ContentProgress& progress) override {
        const std::string to = joinPath(root_, item.relativePath);
        const int fd =
            ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            return failed("create", to);
        }
        bool ok = true;
        if (content.fd >= 0) {
            ok = copyFileContents(content.fd, fd, progress);
        } else {
            char buffer[65536];
            while (ok) {
                const auto got = content.read ? content.read(buffer, sizeof buffer) : std::nullopt;
                ok = got.has_value();
                if (!ok || *got == 0) {
                    break;
                }
                ok = ::write(fd, buffer, *got) == static_cast<ssize_t>(*got) &&
                     (!progress || progress(*got));
            }
        }
        const timespec times[2] = {{0, UTIME_OMIT}, toTimespec(item.modified)};
        ok = ok &&
             (plan_.owner || plan_.group
                  ? ::fchown(fd, plan_.owner.value_or(-1u), plan_.group.value_or(-1u)) == 0
                  : true) &&
             ::fchmod(fd, keptBits(item.permissions, plan_)) == 0 && ::futimens(fd, times) == 0;
        const int error = errno;
        ::close(fd);
        errno = error;
        return ok || failed("write", to);
    }
    bool makeLink(const TransferItem& item) override {
        const std::string to = joinPath(root_, item.relativePath);
        const timespec times[2] = {{0, UTIME_OMIT}, toTimespec(item.modified)};
        if (::symlink(item.linkTarget.c_str(), to.c_str()) != 0 || !own(to, false) ||
            ::utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
            return failed("create the link", to);
        }
        return true;
    }
    bool finish() override {
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
            const std::string to = joinPath(root_, it->relativePath);
            const timespec times[2] = {{0, UTIME_OMIT}, toTimespec(it->modified)};
            struct stat status {};
            if (::lstat(to.c_str(), &status) != 0 ||
                ::chmod(to.c_str(),
                        keptBits(it->permissions, plan_) | (status.st_mode & S_ISGID)) != 0 ||
                ::utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
                return failed("set the attributes of", to);
            }
        }
        return true;
    }

private:
    bool own(const std::string& path, bool) {
        return !(plan_.owner || plan_.group) ||
               ::lchown(path.c_str(), plan_.owner.value_or(-1u), plan_.group.value_or(-1u)) == 0;
    }
    bool failed(const char* operation, const std::string& path) {
        folder_.noteFailure({operation, path, systemError(errno != 0 ? errno : EIO)});
        return false;
    }

    ServerFolder& folder_;
    std::string root_;
    OwnershipPlan plan_;
    std::vector<TransferItem> folders_;
};

} // namespace

std::optional<std::vector<TransferItem>> walkTree(const std::string& root, FileFailure& failure) {
    std::vector<TransferItem> items;
    const auto examine = [&](const std::string& relative) {
        const std::string path = joinPath(root, relative);
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0) {
            failure = {"examine", path, systemError(errno)};
            return false;
        }
        TransferItem item{relative,
                          ItemKind::Special,
                          static_cast<std::uint64_t>(status.st_size),
                          static_cast<std::uint32_t>(status.st_mode & 07777),
                          {status.st_mtim.tv_sec, status.st_mtim.tv_nsec},
                          {}};
        if (S_ISDIR(status.st_mode)) {
            item.kind = ItemKind::Folder;
        } else if (S_ISREG(status.st_mode)) {
            item.kind = ItemKind::RegularFile;
        } else if (S_ISLNK(status.st_mode)) {
            item.kind = ItemKind::SymbolicLink;
            std::string target(4096, '\0');
            const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
            if (length < 0) {
                failure = {"read the link", path, systemError(errno)};
                return false;
            }
            target.resize(static_cast<std::size_t>(length));
            item.linkTarget = std::move(target);
        } else {
            return true; // never part of a world
        }
        if (item.kind != ItemKind::RegularFile) {
            item.size = 0;
        }
        items.push_back(std::move(item));
        return true;
    };
    if (!examine("")) {
        return std::nullopt;
    }
    if (items.empty() || items.front().kind != ItemKind::Folder) {
        failure = {"copy", root, systemError(ENOTDIR)};
        return std::nullopt;
    }
    for (std::size_t next = 0; next < items.size(); ++next) {
        if (items[next].kind != ItemKind::Folder) {
            continue;
        }
        const std::string folder = items[next].relativePath;
        const std::string path = joinPath(root, folder);
        DIR* dir = ::opendir(path.c_str());
        if (!dir) {
            failure = {"list", path, systemError(errno)};
            return std::nullopt;
        }
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        ::closedir(dir);
        for (const std::string& name : names) {
            if (!examine(joinPath(folder, name))) {
                return std::nullopt;
            }
        }
    }
    return items;
}

TreeTotals totalsOf(const std::vector<TransferItem>& items) {
    TreeTotals totals;
    for (const TransferItem& item : items) {
        item.kind == ItemKind::Folder ? ++totals.folders : ++totals.files;
        totals.bytes += item.size;
    }
    return totals;
}

std::string PathServerFolder::path(const std::string& relative) const {
    return joinPath(root_, relative);
}

template <typename R> R PathServerFolder::passed(R result) {
    if (auto failure = files_.takeFailure()) {
        noteFailure(std::move(*failure));
    }
    return result;
}

std::optional<Account> PathServerFolder::account() {
    Account account{::geteuid(), {::getegid()}};
    gid_t groups[256];
    const int count = ::getgroups(256, groups);
    for (int i = 0; i < count; ++i) {
        account.groups.push_back(groups[i]);
    }
    return account;
}

std::optional<ItemInfo> PathServerFolder::itemInfo(const std::string& relative) {
    if (relative.empty()) { // the folder itself, as chosen
        const auto resolved = files_.canonicalPath(root_);
        return passed(resolved ? files_.itemInfo(*resolved) : std::optional(ItemInfo{}));
    }
    return passed(files_.itemInfo(path(relative)));
}

std::optional<std::vector<std::string>> PathServerFolder::entries(const std::string& relative) {
    return passed(files_.folderEntries(path(relative)));
}

std::optional<std::string> PathServerFolder::makeTemporaryFolder(const std::string& prefix) {
    const auto made = passed(files_.makeTemporaryFolder(root_, prefix));
    return made ? std::optional(made->substr(root_.size() + 1)) : std::nullopt;
}

bool PathServerFolder::makeFolder(const std::string& relative, std::uint32_t permissions) {
    const std::string to = path(relative);
    if (::mkdir(to.c_str(), 0700) != 0 || ::chmod(to.c_str(), permissions & 07777) != 0) {
        noteFailure({"create the folder", to, systemError(errno)});
        return false;
    }
    return true;
}

bool PathServerFolder::rename(const std::string& from, const std::string& to) {
    return passed(files_.renameItem(path(from), path(to)));
}

bool PathServerFolder::removeTree(const std::string& relative) {
    return passed(files_.removeTree(path(relative)));
}

bool PathServerFolder::setPermissions(const std::string& relative, std::uint32_t permissions) {
    const std::string item = path(relative);
    struct stat status {};
    if (::lstat(item.c_str(), &status) != 0 || S_ISLNK(status.st_mode) ||
        ::chmod(item.c_str(), permissions & 07777) != 0) {
        noteFailure({"set the permissions of", item, systemError(errno != 0 ? errno : ELOOP)});
        return false;
    }
    return true;
}

bool PathServerFolder::flush(const std::string& relative) {
    return passed(files_.flushToDisk(path(relative)));
}

std::optional<TreeTotals> PathServerFolder::countTree(const std::string& relative) {
    FileFailure failure;
    const auto items = walkTree(path(relative), failure);
    if (!items) {
        noteFailure(failure);
        return std::nullopt;
    }
    return totalsOf(*items);
}

std::unique_ptr<TreeSink> PathServerFolder::receiveTree(const std::string& relative,
                                                        const OwnershipPlan& ownership) {
    return std::make_unique<PathSink>(*this, path(relative), ownership);
}

std::optional<TrashedItem> PathServerFolder::moveToTrash(const std::string& relative) {
    return passed(files_.moveToTrash(path(relative)));
}

bool PathServerFolder::restoreFromTrash(const TrashedItem& trashed, const std::string& relative) {
    return passed(files_.renameItem(trashed.path, path(relative)) &&
                  (trashed.record.empty() || files_.removeTree(trashed.record)));
}

std::optional<TextFile> PathServerFolder::readTextFile(const std::string& relative,
                                                       std::size_t maxBytes) {
    const std::string file = path(relative);
    struct stat status {};
    if (::stat(file.c_str(), &status) == 0 &&
        static_cast<std::uint64_t>(status.st_size) > maxBytes) {
        noteFailure({"read", file, std::make_error_code(std::errc::file_too_large)});
        return std::nullopt;
    }
    auto text = passed(files_.readTextFile(file));
    if (!text) {
        return std::nullopt;
    }
    text->path = std::filesystem::path(text->path).lexically_normal().string();
    if (!text->path.starts_with(root_ + '/')) {
        noteFailure({"read", file, make_error_code(FileProblem::LinkNotFollowed)});
        return std::nullopt;
    }
    text->path.erase(0, root_.size() + 1);
    return text;
}

bool PathServerFolder::writeFileAtomically(const std::string& relative, std::string_view contents,
                                           const ItemInfo& like) {
    return passed(files_.writeFileAtomically(path(relative), contents, like));
}

std::optional<bool> PathServerFolder::isLockHeld(const std::string& relative) {
    return passed(files_.isLockHeld(path(relative)));
}

CopyLockAttempt PathServerFolder::lockExclusively(const std::string& relative) {
    LockAttempt attempt = passed(files_.lockExclusively(path(relative)));
    CopyLockAttempt copy{attempt.outcome, std::move(attempt.lock), {}};
    if (copy.outcome == LockOutcome::HeldElsewhere) {
        const QString name = QString::fromStdString(path(relative));
        QLockFile file(name);
        qint64 pid = 0;
        QString host;
        QString application;
        copy.holder.readable = file.getLockInfo(&pid, &host, &application);
        copy.holder.pid = pid;
        copy.holder.host = host.toStdString();
        copy.holder.since =
            QFileInfo(name).lastModified().toUTC().toString(Qt::ISODate).toStdString();
    }
    return copy;
}

bool PathServerFolder::breakLock(const std::string& relative) {
    const std::string lock = path(relative);
    if (::unlink(lock.c_str()) != 0) {
        noteFailure({"remove the lock file", lock, systemError(errno)});
        return false;
    }
    return true;
}

std::optional<TreeTotals> PathWorldSource::totals() {
    FileFailure failure;
    const auto items = walkTree(root_, failure);
    if (!items) {
        files_.noteFailure(failure);
        return std::nullopt;
    }
    return totalsOf(*items);
}

WorldSource::SendResult PathWorldSource::sendTo(TreeSink& sink,
                                                const WorkProgressReport& progress) {
    FileFailure failure;
    const auto items = walkTree(root_, failure);
    if (!items) {
        files_.noteFailure(failure);
        return SendResult::Failed;
    }
    const TreeTotals totals = totalsOf(*items);
    WorkProgress done{0, totals.files, 0, totals.bytes};
    bool stopped = false;
    const auto report = [&] {
        stopped = stopped || (progress && !progress(done));
        return !stopped;
    };
    if (!report()) {
        return SendResult::Stopped;
    }
    for (const TransferItem& item : *items) {
        const std::string from = joinPath(root_, item.relativePath);
        bool ok = true;
        switch (item.kind) {
        case ItemKind::Folder:
            ok = sink.makeFolder(item);
            break;
        case ItemKind::RegularFile: {
            const int fd = ::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0) {
                files_.noteFailure({"open", from, systemError(errno)});
                return SendResult::Failed;
            }
            FileContent content{fd, {}};
            ok = sink.writeFile(item, content, [&](std::uint64_t bytes) {
                done.bytesDone += bytes;
                return report();
            });
            struct stat after {};
            const bool changed = ::fstat(fd, &after) != 0 ||
                                 static_cast<std::uint64_t>(after.st_size) != item.size ||
                                 after.st_mtim.tv_sec != item.modified.seconds ||
                                 after.st_mtim.tv_nsec != item.modified.nanoseconds;
            ::close(fd);
            if (ok && changed) {
                return SendResult::SourceChanged;
            }
            break;
        }
        default:
            ok = sink.makeLink(item);
            break;
        }
        if (!ok) {
            return stopped ? SendResult::Stopped : SendResult::Failed;
        }
        if (item.kind != ItemKind::Folder) {
            ++done.filesDone;
            if (!report()) {
                return SendResult::Stopped;
            }
        }
    }
    return isOpenInGame().value_or(false) ? SendResult::SourceChanged : SendResult::Sent;
}

std::optional<bool> PathWorldSource::isOpenInGame() {
    return files_.isLockHeld(joinPath(root_, "session.lock"));
}

} // namespace Plovermantle
