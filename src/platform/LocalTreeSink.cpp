// Receiving a tree into a server folder: every item made relative to an open folder of the tree,
// never following a link, and made for the account the ownership plan names.
#include "platform/FileContentCopy.h"
#include "platform/LocalServerFolder.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace Plovermantle {

namespace {

// Reads go through our memory in chunks this large when the source has no descriptor to hand.
constexpr std::size_t chunkBytes = std::size_t{1} << 20;

// Gives a copied file its bits and time and closes it, so that a failure to write back counts.
bool finishFile(Descriptor& out, mode_t bits, const FileTime& modified) {
    const timespec times[2] = {{0, UTIME_OMIT}, toTimespec(modified)};
    return ::fchmod(out.get(), bits) == 0 && ::futimens(out.get(), times) == 0 && out.close();
}

// On a file system that shares blocks a world's copy is all metadata, two rounds of system calls a
// file: while the copying thread opens and creates the next file, this one clones, checks and
// closes the last. Jobs wait their turn only up to a bound, which keeps descriptors in check.
class CloneThread {
public:
    struct Job {
        Descriptor in; // our own, so the source may close its descriptor meanwhile
        Descriptor out;
        mode_t bits;
        TransferItem item; // its size and time as the source found them before the copy
    };
    struct Failure {
        const char* operation;
        std::string relativePath;
        int error;
        bool sourceChanged;
    };

    CloneThread() = default;
    CloneThread(const CloneThread&) = delete;
    CloneThread& operator=(const CloneThread&) = delete;
    ~CloneThread() {
        (void)wait();
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        if (worker_.joinable()) {
            worker_.join();
        }
    }

    void push(Job job) {
        std::unique_lock lock(mutex_);
        if (!worker_.joinable()) {
            worker_ = std::thread([this] { work(); });
        }
        changed_.wait(lock, [this] { return jobs_.size() < jobsLimit; });
        jobs_.push_back(std::move(job));
        changed_.notify_all();
    }

    bool failed() {
        const std::lock_guard lock(mutex_);
        return failure_.has_value();
    }

    // Waits until every job handed over is done; the first that failed, if one did.
    std::optional<Failure> wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return jobs_.empty() && !busy_; });
        return failure_;
    }

private:
    static constexpr std::size_t jobsLimit = 64;

    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) {
                return;
            }
            Job job = std::move(jobs_.front());
            jobs_.pop_front();
            busy_ = true;
            const bool skip = failure_.has_value(); // the copy is given up: only close
            lock.unlock();
            std::optional<Failure> failure = skip ? std::nullopt : run(job);
            job = {};
            lock.lock();
            busy_ = false;
            if (!failure_) {
                failure_ = std::move(failure);
            }
            changed_.notify_all();
        }
    }

    static std::optional<Failure> run(Job& job) {
        const std::string& path = job.item.relativePath;
        if (!copyFileContents(job.in.get(), job.out.get())) {
            return Failure{"copy into", path, errno, false};
        }
        if (!unchangedSince(job.in.get(), job.item.size, job.item.modified)) {
            return Failure{"copy", path, EBUSY, true};
        }
        if (!finishFile(job.out, job.bits, job.item.modified)) {
            return Failure{"write", path, errno, false};
        }
        return std::nullopt;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;
    std::optional<Failure> failure_;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread worker_;
};

class LocalTreeSink : public TreeSink {
public:
    LocalTreeSink(LocalServerFolder& folder, std::string relative, Descriptor parent,
                  std::string name, const OwnershipPlan& plan)
        : folder_(folder), relative_(std::move(relative)), parent_(std::move(parent)),
          name_(std::move(name)), plan_(plan), acl_(hasDefaultAcl(parent_.get())) {}

    bool makeFolder(const TransferItem& item) override {
        const auto place = locate(item.relativePath);
        if (!place) {
            return false;
        }
        // Ours alone until finish() gives it its own bits, so nothing is planted in it meanwhile.
        if (::mkdirat(place->folder, place->name.c_str(), S_IRWXU) != 0) {
            return fail("create folder", item.relativePath, errno);
        }
        Descriptor made(openEntry(place->folder, place->name, O_RDONLY | O_DIRECTORY));
        if (!made.valid() || !giveAway(made.get())) {
            return fail("create folder", item.relativePath, errno);
        }
        if (item.relativePath.empty()) {
            root_ = std::move(made);
        }
        folders_.push_back(item);
        return true;
    }

    bool writeFile(const TransferItem& item, FileContent& content,
                   const ContentProgress& progress) override {
        const auto place = locate(item.relativePath);
        if (!place) {
            return false;
        }
        const mode_t bits = bitsFor(item);
        Descriptor out(
            openEntry(place->folder, place->name, O_WRONLY | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR));
        if (!out.valid() || !giveAway(out.get())) {
            return fail("create", item.relativePath, errno);
        }
        if (content.fd >= 0 && clones_) {
            Descriptor in(::fcntl(content.fd, F_DUPFD_CLOEXEC, 0));
            if (!in.valid()) {
                return fail("copy into", item.relativePath, errno);
            }
            // Counted when handed over: a clone takes no time worth showing.
            if (progress && !progress(item.size)) {
                return false;
            }
            cloner_.push({std::move(in), std::move(out), bits, item});
            return !cloner_.failed() || tellCloneFailure();
        }
        ContentCopyWay way = ContentCopyWay::None;
        ContentCopyOptions options;
        options.wayUsed = &way;
        if (!(content.fd >= 0 ? copyFileContents(content.fd, out.get(), progress, options)
                              : readInto(content, out.get(), progress))) {
            // A stop asked for is no failure to tell.
            return errno != ECANCELED && fail("copy into", item.relativePath, errno);
        }
        clones_ = way == ContentCopyWay::Clone;
        if (!finishFile(out, bits, item.modified)) {
            return fail("write", item.relativePath, errno);
        }
        return true;
    }

    bool makeLink(const TransferItem& item) override {
        const auto place = locate(item.relativePath);
        if (!place) {
            return false;
        }
        const timespec times[2] = {{0, UTIME_OMIT}, toTimespec(item.modified)};
        if (::symlinkat(item.linkTarget.c_str(), place->folder, place->name.c_str()) != 0 ||
            ((plan_.owner || plan_.group) &&
             ::fchownat(place->folder, place->name.c_str(), ownerId(), groupId(),
                        AT_SYMLINK_NOFOLLOW) != 0) ||
            ::utimensat(place->folder, place->name.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
            return fail("create link", item.relativePath, errno);
        }
        return true;
    }

    bool finish() override {
        if (cloner_.wait()) {
            return tellCloneFailure();
        }
        cached_.reset();
        // Deepest first, so that a read-only folder is closed only once all inside it is done.
        std::stable_sort(folders_.begin(), folders_.end(), [](const auto& a, const auto& b) {
            return std::count(a.relativePath.begin(), a.relativePath.end(), '/') +
                       !a.relativePath.empty() >
                   std::count(b.relativePath.begin(), b.relativePath.end(), '/') +
                       !b.relativePath.empty();
        });
        for (const TransferItem& item : folders_) {
            const auto names = splitRelative(item.relativePath);
            const Descriptor folder = openFolderAt(root_.get(), names.value_or(Names{}));
            struct stat status {};
            const timespec times[2] = {{0, UTIME_OMIT}, toTimespec(item.modified)};
            // A set-group-ID bit the folder took from its parent keeps new items in its group.
            if (!folder.valid() || ::fstat(folder.get(), &status) != 0 ||
                ::fchmod(folder.get(), bitsFor(item) | (status.st_mode & S_ISGID)) != 0 ||
                ::futimens(folder.get(), times) != 0) {
                return fail("set permissions and times of", item.relativePath, errno);
            }
        }
        return true;
    }

    bool sourceChanged() const override { return sourceChanged_; }

private:
    using Names = std::vector<std::string>;
    struct Place {
        int folder;
        std::string name;
    };

    // The open folder an item goes into and its name there.
    std::optional<Place> locate(const std::string& relative) {
        auto names = splitRelative(relative);
        if (!names || (names->empty() != !root_.valid())) {
            errno = EINVAL;
            fail("create", relative, EINVAL);
            return std::nullopt;
        }
        if (names->empty()) {
            return Place{parent_.get(), name_};
        }
        std::string name = std::move(names->back());
        names->pop_back();
        // Items mostly arrive folder by folder: the last folder stays open.
        if (!cached_.valid() || cachedNames_ != *names) {
            cached_ = openFolderAt(root_.get(), *names);
            cachedNames_ = *names;
            if (!cached_.valid()) {
                fail("create", relative, errno);
                return std::nullopt;
            }
        }
        return Place{cached_.get(), std::move(name)};
    }

    // The source's bits less set-id and sticky, with what the plan and the folder's default ACL
    // add. Under a default ACL the group bits set its mask, so they get the owner's bits: the
    // entries the ACL grants (the server's account, say) are then cut down to no less than the
    // owner has, not to what the group had.
    mode_t bitsFor(const TransferItem& item) const {
        auto bits = static_cast<mode_t>(item.permissions & 0777);
        if (acl_) {
            bits = (bits & ~mode_t{0070}) | ((bits & 0700) >> 3);
        } else if (plan_.groupWritable && (bits & S_IWUSR) != 0) {
            bits |= S_IWGRP;
        }
        return bits;
    }

    uid_t ownerId() const { return plan_.owner ? *plan_.owner : static_cast<uid_t>(-1); }
    gid_t groupId() const { return plan_.group ? *plan_.group : static_cast<gid_t>(-1); }

    bool giveAway(int fd) const {
        return (!plan_.owner && !plan_.group) || ::fchown(fd, ownerId(), groupId()) == 0;
    }

    static bool readInto(FileContent& content, int out, const ContentProgress& progress) {
        if (!content.read) {
            errno = EINVAL;
            return false;
        }
        std::vector<char> buffer(chunkBytes);
        for (;;) {
            const auto got = content.read(buffer.data(), buffer.size());
            if (!got || *got > buffer.size()) {
                errno = EIO;
                return false;
            }
            if (*got == 0) {
                return true;
            }
            for (std::size_t written = 0; written < *got;) {
                const ssize_t put = ::write(out, buffer.data() + written, *got - written);
                if (put <= 0 && errno != EINTR) {
                    errno = put == 0 ? EIO : errno;
                    return false;
                }
                written += put > 0 ? static_cast<std::size_t>(put) : 0;
            }
            if (progress && !progress(*got)) {
                errno = ECANCELED;
                return false;
            }
        }
    }

    // Notes what the cloning thread found, once the files handed to it are done.
    bool tellCloneFailure() {
        const auto failure = cloner_.wait();
        sourceChanged_ = failure && failure->sourceChanged;
        return failure ? fail(failure->operation, failure->relativePath, failure->error) : true;
    }

    bool fail(const char* operation, const std::string& inside, int error) {
        folder_.noteFailure(
            {operation, folder_.pathOf(inside.empty() ? relative_ : relative_ + "/" + inside),
             error == ELOOP ? make_error_code(FileProblem::LinkNotFollowed) : systemError(error)});
        return false;
    }

    LocalServerFolder& folder_;
    std::string relative_; // the tree's, in the server folder
    Descriptor parent_;    // the folder the tree is made in
    std::string name_;     // the tree's name there
    OwnershipPlan plan_;
    bool acl_;
    Descriptor root_; // the tree, once made
    std::vector<TransferItem> folders_;
    Descriptor cached_;
    Names cachedNames_;
    bool clones_ = false; // the last file was cloned: the next go to the cloning thread
    bool sourceChanged_ = false;
    CloneThread cloner_; // last, so that it is done with the tree before the rest goes
};

} // namespace

std::unique_ptr<TreeSink> LocalServerFolder::receiveTree(const std::string& relative,
                                                         const OwnershipPlan& ownership) {
    auto parent = openParent(relative, "create folder");
    if (!parent) {
        return nullptr;
    }
    return std::make_unique<LocalTreeSink>(*this, relative, std::move(parent->folder),
                                           std::move(parent->name), ownership);
}

} // namespace Plovermantle
