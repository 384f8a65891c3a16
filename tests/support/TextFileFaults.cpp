#include "TextFileFaults.h"

namespace Plovermantle::Testing {

std::optional<std::string> TextFileFaults::readTextFile(const std::string& path) {
    calls.push_back("read " + path);
    if (failingReads.contains(path)) {
        return std::nullopt;
    }
    return PosixFileSystem::readTextFile(path);
}

bool TextFileFaults::writeFileAtomically(const std::string& path, std::string_view contents) {
    calls.push_back("write " + path);
    if (failingWrites.contains(path)) {
        return false;
    }
    return PosixFileSystem::writeFileAtomically(path, contents);
}

} // namespace Plovermantle::Testing
