#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Plovermantle {

// One entry of a one-level folder listing.
struct ListedEntry {
    std::string name; // the name as stored on disk, extension included
    // Whether the entry itself is a folder (a link to a folder is not). Empty when the entry could
    // not be examined, for example because it vanished while the folder was being listed.
    std::optional<bool> isDirectory;
};

// The file operations the logic reaches the disk through. Paths are native byte strings (UTF-8 on
// every desktop we ship for); they are never reinterpreted on the way through.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // The entries directly inside `folder` that the platform does not treat as hidden, in the order
    // the file system yields them; nothing when the folder cannot be opened.
    virtual std::optional<std::vector<ListedEntry>> listFolder(const std::string& folder) = 0;

    // Whole text files. The file at `path` read whole, byte for byte; nothing when it is missing,
    // is not a regular file, cannot be read, or does not hold valid UTF-8.
    virtual std::optional<std::string> readTextFile(const std::string& path) = 0;
    // Replaces the file at `path` with `contents` in one step, through a temporary file beside it:
    // a reader sees the old content or the new, never a mix, and a failed write leaves the old file
    // whole. An existing file keeps its permission bits; when `path` is a symbolic link the link
    // stays and the file it points at is replaced. Answers whether the new content is in place.
    virtual bool writeFileAtomically(const std::string& path, std::string_view contents) = 0;
};

} // namespace Plovermantle
