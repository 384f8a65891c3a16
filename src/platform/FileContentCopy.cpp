#include "platform/FileContentCopy.h"

#include "platform/Writeback.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif
#ifdef __APPLE__
#include <copyfile.h>
#endif

namespace Plovermantle {

namespace {

// One in-kernel copy call: large enough that system calls cost nothing
// next to the disk, small enough that progress and Cancel answer within a fraction of a second.
constexpr std::size_t chunkSize = std::size_t{8} << 20;
constexpr std::size_t bufferSize = std::size_t{1} << 20;
// Page-aligned, so the kernel copies whole pages.
constexpr std::size_t bufferAlignment = 4096;

class ContentCopier {
public:
    ContentCopier(int inFd, int outFd, const ContentProgress& progress,
                  const ContentCopyOptions& options)
        : inFd_(inFd), outFd_(outFd), progress_(progress), options_(options), pacer_(outFd) {}

    bool run() {
        struct stat in {};
        if (::fstat(inFd_, &in) != 0) {
            return false;
        }
        regularIn_ = S_ISREG(in.st_mode);
        if (regularIn_ && (inStart_ = ::lseek(inFd_, 0, SEEK_CUR)) < 0) {
            return false;
        }
        expected_ = regularIn_ && in.st_size > inStart_
                        ? static_cast<std::uint64_t>(in.st_size - inStart_)
                        : 0;

        // Tried first and with the fewest system calls: on a file system that shares blocks, a
        // world's copy is all metadata, and every call per file shows.
        if (options_.allowClone && regularIn_ && inStart_ == 0) {
            switch (tryClone()) {
            case Outcome::Done:
                if (options_.wayUsed != nullptr) {
                    *options_.wayUsed = ContentCopyWay::Clone;
                }
                return true;
            case Outcome::Failed:
                return false;
            case Outcome::NotPossible:
                break;
            }
        }

        struct stat out {};
        if (::fstat(outFd_, &out) != 0) {
            return false;
        }
        regularOut_ = S_ISREG(out.st_mode);
        if (regularIn_ && regularOut_ && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
            // Reading what we write would never end.
            errno = EINVAL;
            return false;
        }
        if (regularOut_ && (outStart_ = ::lseek(outFd_, 0, SEEK_CUR)) < 0) {
            return false;
        }
        if (regularOut_) {
            pacer_.start(outStart_);
        }
        if (options_.allowCopyRange) {
            switch (tryCopyRange()) {
            case Outcome::Done:
                return finish(ContentCopyWay::CopyRange);
            case Outcome::Failed:
                return false;
            case Outcome::NotPossible:
                break;
            }
        }
        return readWrite() && finish(ContentCopyWay::ReadWrite);
    }

private:
    enum class Outcome {
        Done,
        Failed,
        NotPossible, // nothing was copied: another way may try
    };

    Outcome tryClone() {
#ifdef __linux__
        // All or nothing: a failed clone has copied nothing, and a done one is the whole file
        // with its size, so there is nothing to check afterwards. The same file on both sides is
        // refused by the kernel.
        if (::ioctl(outFd_, FICLONE, inFd_) != 0) {
            return Outcome::NotPossible;
        }
        return report(expected_) ? Outcome::Done : Outcome::Failed;
#else
        return Outcome::NotPossible;
#endif
    }

    Outcome tryCopyRange() {
#ifdef __APPLE__
        // The system's own whole-file copy; the size check in finish() judges it.
        if (regularIn_ && regularOut_ && inStart_ == 0 && outStart_ == 0) {
            if (::fcopyfile(inFd_, outFd_, nullptr, COPYFILE_DATA) != 0) {
                (void)::ftruncate(outFd_, 0);
                return Outcome::NotPossible;
            }
            return report(expected_) ? Outcome::Done : Outcome::Failed;
        }
#endif
        bool copiedAny = false;
        for (;;) {
            const ssize_t got = copyRange(chunkSize);
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                // Not supported between these files (other file system, a pipe, an old kernel):
                // nothing has moved yet, so the loop below starts from the same offsets.
                return copiedAny ? Outcome::Failed : Outcome::NotPossible;
            }
            if (got == 0) {
                if (copied_ < expected_) {
                    // Some file systems stop short of a file's size; read the rest ourselves,
                    // which finds the true end.
                    return readWrite() ? Outcome::Done : Outcome::Failed;
                }
                return Outcome::Done;
            }
            copiedAny = true;
            pacer_.wrote(static_cast<std::uint64_t>(got));
            if (!report(static_cast<std::uint64_t>(got))) {
                return Outcome::Failed;
            }
        }
    }

    ssize_t copyRange(std::size_t length) {
        if (options_.copyRange) {
            return options_.copyRange(inFd_, outFd_, length);
        }
#ifdef __linux__
        return ::copy_file_range(inFd_, nullptr, outFd_, nullptr, length, 0);
#else
        errno = ENOSYS;
        return -1;
#endif
    }

    bool readWrite() {
        const std::unique_ptr<char, decltype(&std::free)> buffer(
            static_cast<char*>(std::aligned_alloc(bufferAlignment, bufferSize)), &std::free);
        if (!buffer) {
            errno = ENOMEM;
            return false;
        }
        for (;;) {
            const ssize_t got = ::read(inFd_, buffer.get(), bufferSize);
            if (got == 0) {
                return true;
            }
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            std::size_t written = 0;
            while (written < static_cast<std::size_t>(got)) {
                const ssize_t put = ::write(outFd_, buffer.get() + written,
                                            static_cast<std::size_t>(got) - written);
                if (put < 0) {
                    if (errno == EINTR) {
                        continue;
                    }
                    return false;
                }
                if (put == 0) {
                    errno = EIO;
                    return false;
                }
                written += static_cast<std::size_t>(put);
            }
            pacer_.wrote(static_cast<std::uint64_t>(got));
            if (!report(static_cast<std::uint64_t>(got))) {
                return false;
            }
        }
    }

    bool report(std::uint64_t bytes) {
        copied_ += bytes;
        if (progress_ && !progress_(bytes)) {
            errno = ECANCELED;
            return false;
        }
        return true;
    }

    // A copy counts only when both files end where the bytes copied say they should: a source
    // that shrank, or a copy the kernel cut short, must not pass for a whole file.
    bool finish(ContentCopyWay way) {
        pacer_.finish();
        struct stat in {};
        struct stat out {};
        if (::fstat(inFd_, &in) != 0 || ::fstat(outFd_, &out) != 0) {
            return false;
        }
        const auto copied = static_cast<off_t>(copied_);
        if ((regularIn_ && in.st_size != inStart_ + copied) ||
            (regularOut_ && out.st_size != outStart_ + copied)) {
            errno = EIO;
            return false;
        }
        if (options_.wayUsed != nullptr) {
            *options_.wayUsed = way;
        }
        return true;
    }

    const int inFd_;
    const int outFd_;
    const ContentProgress& progress_;
    const ContentCopyOptions& options_;
    WritebackPacer pacer_;
    bool regularIn_ = false;
    bool regularOut_ = false;
    off_t inStart_ = 0;
    off_t outStart_ = 0;
    std::uint64_t expected_ = 0; // what the source held past its offset when we began
    std::uint64_t copied_ = 0;
};

} // namespace

bool copyFileContents(int inFd, int outFd, const ContentProgress& progress,
                      const ContentCopyOptions& options) {
    if (options.wayUsed != nullptr) {
        *options.wayUsed = ContentCopyWay::None;
    }
    return ContentCopier(inFd, outFd, progress, options).run();
}

bool copyFileContents(int inFd, int outFd, const ContentProgress& progress) {
    return copyFileContents(inFd, outFd, progress, ContentCopyOptions{});
}

} // namespace Plovermantle
