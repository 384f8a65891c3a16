#pragma once

#include <cstdint>
#include <sys/types.h>

namespace Plovermantle {

// Has each finished window of a file being written sent to the disk while the copy goes on, so
// the flush that ends a big copy finds little left to do. On Linux one process-wide thread starts
// the writeback (sync_file_range), so that the copying thread goes on copying meanwhile; elsewhere
// it does nothing.
class WritebackPacer {
public:
    // How much is written before its writeback is started.
    static constexpr off_t writebackWindow = off_t{8} << 20;

    explicit WritebackPacer(int fd) : fd_(fd) {}

    // Paces writes that begin at `offset` of a regular file.
    void start(off_t offset);
    void wrote(std::uint64_t bytes);
    // Starts writeback of what is left.
    void finish();

private:
    void push();

    int fd_;
    bool enabled_ = false;
    off_t written_ = 0; // end of what has been written
    off_t started_ = 0; // writeback has been started below this
};

} // namespace Plovermantle
