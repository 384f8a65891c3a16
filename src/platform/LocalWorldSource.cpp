#include "platform/LocalWorldSource.h"

#include "platform/FolderTrees.h"
#include "platform/Paths.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace Plovermantle {

namespace {

TransferItem transferItem(std::string relative, const struct stat& status) {
    const ItemInfo info = itemInfoFrom(status);
    return {std::move(relative), info.kind, info.size, info.permissions, info.modified, {}};
}

} // namespace

std::unique_ptr<LocalWorldSource> LocalWorldSource::open(const std::string& path,
                                                         FileFailure* failure) {
    Descriptor root(path.find('\0') == std::string::npos
                        ? ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                        : (errno = EINVAL, -1));
    if (!root.valid()) {
        if (failure != nullptr) {
            *failure = {"copy", path,
                        errno == ELOOP ? make_error_code(FileProblem::LinkNotFollowed)
                                       : systemError(errno)};
        }
        return nullptr;
    }
    std::string_view name(path);
    while (name.size() > 1 && name.ends_with('/')) {
        name.remove_suffix(1);
    }
    name = name.substr(name.rfind('/') == std::string_view::npos ? 0 : name.rfind('/') + 1);
    return std::unique_ptr<LocalWorldSource>(
        new LocalWorldSource(std::move(root), path, std::string(name.empty() ? "world" : name)));
}

bool LocalWorldSource::fail(const char* operation, const std::string& relative,
                            std::error_code error) {
    if (!failure_) {
        failure_ = FileFailure{operation, joinPath(path_, relative), error};
    }
    return false;
}

std::optional<TreeTotals> LocalWorldSource::totals() {
    if (!totals_) {
        totals_ = countOpenTree(root_.get());
        if (!totals_) {
            fail("read", "", systemError(errno));
        }
    }
    return totals_;
}

WorldSource::SendResult LocalWorldSource::sendTo(TreeSink& sink,
                                                 const WorkProgressReport& progress) {
    const auto announced = totals();
    if (!announced) {
        return SendResult::Failed;
    }
    WorkProgress done{0, announced->files, 0, announced->bytes};
    bool stopped = false;
    const auto report = [&] {
        stopped = stopped || (progress && !progress(done));
        return !stopped;
    };
    const auto failed = [&] {
        return stopped ? SendResult::Stopped : SendResult::Failed;
    };
    struct stat status {};
    if (!report() || ::fstat(root_.get(), &status) != 0 ||
        !sink.makeFolder(transferItem(name_, status))) {
        return stopped ? SendResult::Stopped : (fail("read", "", systemError(errno)), failed());
    }
    // Folders still to send the contents of; a list rather than recursion, so that the depth of a
    // tree costs no stack. Each is opened again from the root, one name at a time.
    std::vector<std::string> pending{""};
    while (!pending.empty()) {
        const std::string folderPath = std::move(pending.back());
        pending.pop_back();
        const auto names = splitRelative(folderPath);
        const Descriptor folder =
            openFolderAt(root_.get(), names.value_or(std::vector<std::string>{}));
        const auto inside = folder.valid() ? listNames(folder.get()) : std::nullopt;
        if (!inside) {
            fail("read", folderPath, systemError(errno));
            return SendResult::Failed;
        }
        for (const std::string& name : *inside) {
            const std::string relative = joinPath(folderPath, name);
            if (::fstatat(folder.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
                fail("read", relative, systemError(errno));
                return SendResult::Failed;
            }
            TransferItem item = transferItem(joinPath(name_, relative), status);
            if (S_ISDIR(status.st_mode)) {
                if (!sink.makeFolder(item)) {
                    return failed();
                }
                pending.push_back(relative);
            } else if (S_ISLNK(status.st_mode)) {
                const auto link = readLink(folder.get(), name);
                if (!link) {
                    fail("read link", relative, systemError(errno));
                    return SendResult::Failed;
                }
                item.linkTarget = link->target;
                if (!sink.makeLink(item)) {
                    return failed();
                }
                ++done.filesDone;
            } else if (S_ISREG(status.st_mode)) {
                // A pipe swapped in since the listing cannot make the open wait; fstat turns it
                // away.
                const Descriptor file(openEntry(folder.get(), name, O_RDONLY));
                struct stat before {};
                if (!file.valid() || ::fstat(file.get(), &before) != 0) {
                    fail("read", relative, systemError(errno));
                    return SendResult::Failed;
                }
                if (!S_ISREG(before.st_mode)) {
                    fail("read", relative, FileProblem::NotRegularFile);
                    return SendResult::Failed;
                }
                item = transferItem(joinPath(name_, relative), before);
                FileContent content{file.get(), {}};
                const ContentProgress contentProgress = [&](std::uint64_t bytes) {
                    done.bytesDone += bytes;
                    return report();
                };
                if (!sink.writeFile(item, content, contentProgress)) {
                    return failed();
                }
                if (!unchangedSince(file.get(), item.size, item.modified)) {
                    fail("copy", relative, systemError(EBUSY));
                    return SendResult::SourceChanged;
                }
                ++done.filesDone;
            }
            // Pipes, sockets and devices are never part of a world, and a pipe could stall the
            // copy for good: they are left out.
            if (!report()) {
                return SendResult::Stopped;
            }
        }
    }
    // The game opening the world while it was sent may have saved into files already copied.
    if (isOpenInGame() == std::optional(true)) {
        fail("copy", "", systemError(EBUSY));
        return SendResult::SourceChanged;
    }
    return SendResult::Sent;
}

std::optional<bool> LocalWorldSource::isOpenInGame() {
    const Descriptor lock(openEntry(root_.get(), "session.lock", O_RDONLY));
    if (!lock.valid()) {
        return false; // no lock file, no game holding it
    }
    return openFileLocked(lock.get());
}

} // namespace Plovermantle
