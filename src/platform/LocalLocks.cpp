// Locks in a server folder: the game's and the server's session.lock, and the copy lock that keeps
// two copies (from this computer or from another sharing the folder) from crossing.
#include "platform/LocalServerFolder.h"

#include <cerrno>
#include <charconv>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace Plovermantle {

namespace {

// A lock file is a few lines; anything larger is not one of ours.
constexpr std::size_t lockFileAtMost = 4096;

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    char text[32] = "";
    ::gmtime_r(&now, &parts);
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

LockHolder parseHolder(const std::string& text) {
    LockHolder holder;
    bool hasPid = false;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t equals = line.find('=');
        const std::string key = line.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
        if (key == "host") {
            holder.host = value;
        } else if (key == "since") {
            holder.since = value;
        } else if (key == "pid") {
            const auto [end2, error] =
                std::from_chars(value.data(), value.data() + value.size(), holder.pid);
            hasPid = error == std::errc() && end2 == value.data() + value.size();
        }
    }
    holder.readable = hasPid && !holder.host.empty() && !holder.since.empty();
    return holder;
}

// Holds the lock for as long as it lives; then removes the file, if it is still the one it made.
class CopyLock : public HeldLock {
public:
    CopyLock(Descriptor folder, std::string name, Descriptor file)
        : folder_(std::move(folder)), name_(std::move(name)), file_(std::move(file)) {}
    ~CopyLock() override {
        struct stat mine {};
        struct stat there {};
        if (::fstat(file_.get(), &mine) == 0 &&
            ::fstatat(folder_.get(), name_.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
            mine.st_dev == there.st_dev && mine.st_ino == there.st_ino) {
            // Removed while still locked, so that no one takes a file that is going.
            ::unlinkat(folder_.get(), name_.c_str(), 0);
        }
    }

    // Writes who holds it, in place of whatever a stale holder wrote.
    bool writeHolder() {
        const std::string text = "host=" + hostName() + "\npid=" + std::to_string(::getpid()) +
                                 "\nsince=" + utcNow() + "\n";
        return ::ftruncate(file_.get(), 0) == 0 &&
               ::pwrite(file_.get(), text.data(), text.size(), 0) ==
                   static_cast<ssize_t>(text.size()) &&
               ::fsync(file_.get()) == 0;
    }

private:
    Descriptor folder_;
    std::string name_;
    Descriptor file_;
};

bool sameItem(int file, int folder, const std::string& name) {
    struct stat opened {};
    struct stat there {};
    return ::fstat(file, &opened) == 0 &&
           ::fstatat(folder, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
           opened.st_dev == there.st_dev && opened.st_ino == there.st_ino;
}

} // namespace

std::optional<bool> LocalServerFolder::isLockHeld(const std::string& relative) {
    auto names = splitRelative(relative);
    if (!names || names->empty()) {
        fail("examine the lock of", relative, systemError(EINVAL));
        return std::nullopt;
    }
    const std::string name = names->back();
    names->pop_back();
    // Never through a planted link, and never waiting on a pipe: neither is a lock anyone holds,
    // and neither is a file in a world that is not there.
    const Descriptor folder = openFolderAt(folder_.get(), *names);
    const Descriptor file(folder.valid() ? openEntry(folder.get(), name, O_RDONLY) : -1);
    if (!file.valid()) {
        if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) {
            return false;
        }
        failErrno("examine the lock of", relative);
        return std::nullopt;
    }
    const auto held = openFileLocked(file.get());
    if (!held) {
        failErrno("examine the lock of", relative);
    }
    return held;
}

CopyLockAttempt LocalServerFolder::lockExclusively(const std::string& relative) {
    const char* const operation = "create the lock file";
    auto parent = openParent(relative, operation);
    if (!parent) {
        return {};
    }
    const int folder = parent->folder.get();
    const std::string& name = parent->name;
    // Ours: the holder written into it names this process.
    const auto take = [&](Descriptor file) -> CopyLockAttempt {
        auto lock = std::make_unique<CopyLock>(std::move(parent->folder), name, std::move(file));
        if (!lock->writeHolder()) {
            failErrno(operation, relative);
            return {};
        }
        return {LockOutcome::Taken, std::move(lock), {}};
    };
    // Each turn either makes the file, or finds one and judges it; a file that goes or is
    // replaced in between is looked at again, a bounded number of times.
    for (int attempt = 0; attempt < 8; ++attempt) {
        Descriptor file(openEntry(folder, name, O_RDWR | O_CREAT | O_EXCL, 0644));
        if (file.valid()) {
            if (!lockOpenFile(file.get())) {
                failErrno(operation, relative);
                ::unlinkat(folder, name.c_str(), 0);
                return {};
            }
            return take(std::move(file));
        }
        if (errno != EEXIST) {
            failErrno(operation, relative);
            return {};
        }
        // Another account's file may be readable and not writable: it is then only judged.
        file = Descriptor(openEntry(folder, name, O_RDWR));
        if (!file.valid() && errno == EACCES) {
            file = Descriptor(openEntry(folder, name, O_RDONLY));
        }
        if (!file.valid()) {
            if (errno == ENOENT) {
                continue;
            }
            failErrno(operation, relative);
            return {};
        }
        struct stat status {};
        if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
            fail(operation, relative, FileProblem::NotRegularFile);
            return {};
        }
        const auto text = static_cast<std::size_t>(status.st_size) <= lockFileAtMost
                              ? readAtMost(file.get(), lockFileAtMost)
                              : std::nullopt;
        const LockHolder holder = parseHolder(text.value_or(std::string()));
        const int access = ::fcntl(file.get(), F_GETFL) & O_ACCMODE;
        const bool free = access == O_RDWR ? lockOpenFile(file.get())
                                           : openFileLocked(file.get()) == std::optional(false);
        if (free && !sameItem(file.get(), folder, name)) {
            continue; // removed or replaced by its holder as it went
        }
        // Free, written by a process of this computer, and ours to write: that process is gone.
        if (free && access == O_RDWR && holder.readable && holder.host == hostName()) {
            return take(std::move(file));
        }
        // Held, or left by another computer whose process cannot be asked: only the user may
        // decide to break it.
        return {LockOutcome::HeldElsewhere, nullptr, holder};
    }
    fail(operation, relative, systemError(EAGAIN));
    return {};
}

bool LocalServerFolder::breakLock(const std::string& relative) {
    const auto parent = openParent(relative, "remove the lock file");
    if (!parent) {
        return false;
    }
    const Descriptor file(openEntry(parent->folder.get(), parent->name, O_RDONLY));
    if (!file.valid()) {
        return errno == ENOENT || failErrno("remove the lock file", relative);
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return fail("remove the lock file", relative, FileProblem::NotRegularFile);
    }
    if (openFileLocked(file.get()) != std::optional(false)) {
        return fail("remove the lock file", relative, FileProblem::LockedElsewhere);
    }
    if (!sameItem(file.get(), parent->folder.get(), parent->name) ||
        ::unlinkat(parent->folder.get(), parent->name.c_str(), 0) != 0) {
        return failErrno("remove the lock file", relative);
    }
    return true;
}

} // namespace Plovermantle
