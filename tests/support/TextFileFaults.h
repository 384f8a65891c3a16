#pragma once

#include "platform/PosixFileSystem.h"

#include <set>
#include <string>
#include <vector>

namespace Plovermantle::Testing {

// The real disk, except that the whole-file reads and writes of the paths a test names fail
// without touching anything, as a failed atomic write would leave them.
class TextFileFaults : public PosixFileSystem {
public:
    std::optional<std::string> readTextFile(const std::string& path) override;
    bool writeFileAtomically(const std::string& path, std::string_view contents) override;

    std::set<std::string> failingReads;
    std::set<std::string> failingWrites;
    // Every whole-file call in order, as "read <path>" or "write <path>".
    std::vector<std::string> calls;
};

} // namespace Plovermantle::Testing
