#pragma once

#include "platform/Progress.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <sys/types.h>

namespace Plovermantle {

// How a file's contents were copied, fastest first.
enum class ContentCopyWay {
    None,      // nothing was copied, or the copy failed
    Clone,     // the copy shares the source's blocks until either is written (reflink)
    CopyRange, // the kernel copied the bytes (copy_file_range), never through our memory
    ReadWrite, // read into our buffer and written out
};

struct ContentCopyOptions {
    // Which ways may be tried; the read/write loop is always there to fall back on.
    bool allowClone = true;
    bool allowCopyRange = true;
    // Stands in for copy_file_range(2) on the files' own offsets when set, so that tests can make
    // the kernel fail or stop short at a chosen point; answers like the system call.
    std::function<ssize_t(int inFd, int outFd, std::size_t length)> copyRange;
    // When set, receives the way that made the copy (None when it failed).
    ContentCopyWay* wayUsed = nullptr;
};

// Copies everything from `inFd` (read from its current offset to its end) into `outFd` (an empty
// file open for writing). Answers false with errno set when reading or writing fails, or with
// errno ECANCELED when `progress` asked to stop; `outFd` then holds an unspecified prefix.
//
// The fastest way the file systems allow is used: a clone, else an in-kernel copy, else a
// read/write loop; a slower way is only tried while nothing of the file has been copied. A regular
// source must end up exactly as long as the bytes copied (errno EIO otherwise), so a copy cut short
// is never reported as done. Progress is reported at least every few MiB. Writing the copy to disk
// starts while it goes on, so that the flush ending a big copy has little left to do.
bool copyFileContents(int inFd, int outFd, const ContentProgress& progress = {});
bool copyFileContents(int inFd, int outFd, const ContentProgress& progress,
                      const ContentCopyOptions& options);

} // namespace Plovermantle
