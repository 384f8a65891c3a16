// The file system's locks: whether the game holds a world, and the copy's own lock file.
#include "platform/Descriptors.h"
#include "platform/PosixFileSystem.h"

#include <QLockFile>
#include <QString>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Plovermantle {

namespace {

class QtHeldLock : public HeldLock {
public:
    explicit QtHeldLock(const QString& name) : file(name) {}
    QLockFile file;
};

} // namespace

bool PosixFileSystem::isLockHeld(const std::string& path) {
    // Never through a planted link, and never waiting on a pipe.
    const Descriptor file(openEntry(AT_FDCWD, path, O_RDONLY));
    return file.valid() && openFileLocked(file.get()) == std::optional(true);
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
