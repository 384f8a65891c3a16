#include "platform/Writeback.h"

#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace Plovermantle {

namespace {

#ifdef __linux__
// Starts writeback of finished ranges on a thread of its own, so that the copying thread goes on
// copying while the kernel allocates blocks and queues the writes: the disk and the copy overlap
// instead of taking turns. Ranges wait their turn only up to a bound: beyond it the copying thread
// waits, which keeps dirty memory in check.
class WritebackQueue {
public:
    static WritebackQueue& instance() {
        static WritebackQueue queue;
        return queue;
    }

    WritebackQueue(const WritebackQueue&) = delete;
    WritebackQueue& operator=(const WritebackQueue&) = delete;

    void submit(int fd, off_t from, off_t to) {
        // Our own descriptor: the caller may close theirs before the range's turn comes.
        const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (own < 0) {
            (void)::sync_file_range(fd, from, to - from, SYNC_FILE_RANGE_WRITE);
            return;
        }
        std::unique_lock lock(mutex_);
        if (!worker_.joinable()) {
            worker_ = std::thread([this] { work(); });
        }
        roomLeft_.wait(lock,
                       [this] { return waiting_ < waitingLimit && jobs_.size() < jobsLimit; });
        jobs_.push_back({own, from, to});
        waiting_ += to - from;
        hasJobs_.notify_one();
    }

private:
    struct Job {
        int fd;
        off_t from;
        off_t to;
    };
    static constexpr off_t waitingLimit = off_t{64} << 20;
    // Each waiting job holds a descriptor; stay far below the usual limit of 1024.
    static constexpr std::size_t jobsLimit = 128;

    WritebackQueue() = default;
    ~WritebackQueue() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        hasJobs_.notify_one();
        if (worker_.joinable()) {
            worker_.join();
        }
    }

    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            hasJobs_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) {
                return;
            }
            const Job job = jobs_.front();
            jobs_.pop_front();
            lock.unlock();
            // Only a hint: write errors are reported by the flush that ends the copy.
            (void)::sync_file_range(job.fd, job.from, job.to - job.from, SYNC_FILE_RANGE_WRITE);
            ::close(job.fd);
            lock.lock();
            waiting_ -= job.to - job.from;
            roomLeft_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable hasJobs_;
    std::condition_variable roomLeft_;
    std::deque<Job> jobs_;
    off_t waiting_ = 0;
    bool stopping_ = false;
    std::thread worker_;
};
#endif

} // namespace

void WritebackPacer::start(off_t offset) {
#ifdef __linux__
    enabled_ = true;
    written_ = started_ = offset;
#else
    (void)offset;
#endif
}

void WritebackPacer::wrote(std::uint64_t bytes) {
    if (!enabled_) {
        return;
    }
    written_ += static_cast<off_t>(bytes);
    if (written_ - started_ >= writebackWindow) {
        push();
    }
}

void WritebackPacer::finish() {
    if (enabled_ && written_ > started_) {
        push();
    }
}

void WritebackPacer::push() {
#ifdef __linux__
    WritebackQueue::instance().submit(fd_, started_, written_);
    started_ = written_;
#endif
}

} // namespace Plovermantle
