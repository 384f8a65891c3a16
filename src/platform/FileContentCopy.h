#pragma once

#include <cstdint>
#include <functional>

namespace Plovermantle {

// Told how many more bytes have been copied; answers false to stop the copy.
using ContentProgress = std::function<bool(std::uint64_t bytesCopied)>;

// Copies everything from `inFd` (read from its current offset to its end) into `outFd` (an empty
// file open for writing). Answers false with errno set when reading or writing fails, or with
// errno ECANCELED when `progress` asked to stop; `outFd` then holds an unspecified prefix.
bool copyFileContents(int inFd, int outFd, const ContentProgress& progress = {});

} // namespace Plovermantle
