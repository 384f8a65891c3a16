#pragma once

#include "worlds/TreeCopy.h"

#include <string>
#include <string_view>

namespace Plovermantle {

// Hidden folders a copy works in, inside the server folder, followed by six letters or digits.
inline constexpr std::string_view stagingFolderPrefix = ".plovermantle-staging-";
inline constexpr std::string_view asideFolderPrefix = ".plovermantle-aside-";

enum class PlaceResult {
    Placed,        // the whole copy is in place
    CopyFailed,    // nothing changed at the destination
    ReplaceFailed, // the copy was made but the item in its way could not give way: it stays
    Stopped,       // the progress callback asked to stop; nothing changed at the destination
};

// Copies the folder `source` into `serverFolder` under `name`. The copy is made in a hidden
// staging folder beside the destination and only a whole one takes the destination's place, so a
// failure never leaves part of a world there. With `replace`, the item already there gives way
// and is removed afterwards; without it, an item there makes the copy fail. `progress` is asked
// once more, with the last progress again, after the copy is on the disk and before it takes its
// place.
PlaceResult placeCopy(FileSystem& files, const std::string& source, const std::string& serverFolder,
                      const std::string& name, bool replace,
                      const WorkProgressReport& progress = {});

// Cleans up after a copy that was cut short (a crash, a power cut): an item left set aside goes
// back to its own name when nothing took that name, and every other leftover folder of ours is
// removed. Anything else in the folder is never touched.
void recoverLeftovers(FileSystem& files, const std::string& serverFolder);

} // namespace Plovermantle
