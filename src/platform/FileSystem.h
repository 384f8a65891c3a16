#pragma once

#include <optional>
#include <string>
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
};

} // namespace Plovermantle
