#pragma once

#include "worlds/LevelDat.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Plovermantle {

class FileSystem;

// The names of the visible folders directly inside the saves folder, in the file system's order.
// A missing or unreadable saves folder gives an empty list.
std::vector<std::string> listWorlds(FileSystem& files, const std::string& savesFolder);

// What the world list shows of a world beyond its folder's name.
struct WorldDetails {
    std::optional<LevelSummary> level; // nothing when level.dat is missing or unreadable
    // icon.png's image chunks alone; empty when missing, unreadable or not a bounded icon
    std::string icon;
};

// Reads the details of the world in `worldFolder`. Safe to call from a worker thread as long as
// `files` is.
WorldDetails readWorldDetails(FileSystem& files, const std::string& worldFolder);

// A world as the list orders it.
struct WorldOrderKey {
    std::string folder;
    std::optional<std::int64_t> lastPlayed;
};

// Most recently played first, as the game lists them; worlds with no date after those, by folder
// name in the user's language's order (numbers by value).
void orderWorlds(std::vector<WorldOrderKey>& worlds);

} // namespace Plovermantle
