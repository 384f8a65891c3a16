#pragma once

#include "worlds/TreeCopy.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Plovermantle {

// Hidden folders a copy works in, inside the server folder, followed by six letters or digits.
inline constexpr std::string_view stagingFolderPrefix = ".plovermantle-staging-";
inline constexpr std::string_view asideFolderPrefix = ".plovermantle-aside-";
// The file that lets one copy at a time work in a server folder.
inline constexpr std::string_view copyLockName = ".plovermantle.lock";
// The file inside a world that the game and its server lock while they have the world open.
inline constexpr std::string_view sessionLockName = "session.lock";

// The items a world of `name` has in a server folder: the world itself, then the Nether and the
// End that servers of the Bukkit family keep beside it.
std::vector<std::string> worldItemNames(const std::string& name);
// Those of them that exist in `serverFolder`, in that order; nothing when one cannot be examined.
std::optional<std::vector<std::string>>
existingWorldItems(FileSystem& files, const std::string& serverFolder, const std::string& name);
// Whether a server has the world of `name` in `serverFolder`, or one of its items, open.
bool worldInUse(FileSystem& files, const std::string& serverFolder, const std::string& name);

enum class PlaceResult {
    Placed,        // the whole copy is in place
    CopyFailed,    // nothing changed at the destination
    ReplaceFailed, // the copy was made but the item in its way could not give way: it stays
    Stopped,       // the progress callback asked to stop; nothing changed at the destination
    InUse,         // a server opened the world while it was copied; nothing changed
};

// Copies the folder `source` into `serverFolder` under `name`. The copy is made in a hidden
// staging folder beside the destination and only a whole one takes the destination's place, so a
// failure never leaves part of a world there. With `replace`, the world's items already there
// (worldItemNames) give way: to the user's Trash, or where no Trash takes them, set aside and
// removed afterwards; a failure puts every one back. Without it, an item there makes the copy
// fail. `progress` is asked once more, with the last progress again, after the copy is on the
// disk and before it takes its place. Call it only while holding the folder's copy lock.
PlaceResult placeCopy(FileSystem& files, const std::string& source, const std::string& serverFolder,
                      const std::string& name, bool replace,
                      const WorkProgressReport& progress = {});

// Cleans up after a copy that was cut short (a crash, a power cut): an item left set aside goes
// back to its own name when nothing took that name, and every other leftover folder of ours is
// removed. Anything else in the folder is never touched, nor a file or link that bears one of our
// names. Call it only while holding the folder's copy lock, or it could take another copy's work.
void recoverLeftovers(FileSystem& files, const std::string& serverFolder);

} // namespace Plovermantle
