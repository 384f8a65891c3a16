#pragma once

#include <cstdint>
#include <functional>

namespace Plovermantle {

// How far a long piece of work has come, of all it has to do: what the progress dialog shows.
struct WorkProgress {
    std::uint64_t filesDone = 0;
    std::uint64_t filesTotal = 0;
    std::uint64_t bytesDone = 0;
    std::uint64_t bytesTotal = 0;

    bool operator==(const WorkProgress&) const = default;
};

// Told by the work as it goes on; answers false once the user has asked to stop. Told the same
// progress again, it only answers.
using WorkProgressReport = std::function<bool(const WorkProgress&)>;

// Told how many more bytes of one file have been copied; answers false to stop the copy.
using ContentProgress = std::function<bool(std::uint64_t bytesCopied)>;

} // namespace Plovermantle
