#pragma once

#include "platform/FileSystem.h"

#include <optional>
#include <string>

namespace Plovermantle {

// Moves the entry `name` of the open folder `parentFd` (whose absolute path is `parentPath`) to
// the user's Trash: the entry itself, a link as the link. The record that lets a file manager put
// it back is written first. Nothing when no Trash can take it, with why in `failure`; then the
// entry is where it was. Never blocks for long and never loops.
std::optional<TrashedItem> moveToTrash(int parentFd, const std::string& parentPath,
                                       const std::string& name, FileFailure* failure = nullptr);

// Puts an item moved by moveToTrash back as `name` in the open folder `parentFd`, without
// replacing anything, and removes its record.
bool restoreFromTrash(const TrashedItem& trashed, int parentFd, const std::string& name);

} // namespace Plovermantle
