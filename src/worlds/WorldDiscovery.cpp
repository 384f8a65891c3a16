#include "worlds/WorldDiscovery.h"

#include "platform/FileSystem.h"

namespace Plovermantle {

std::vector<std::string> listWorlds(FileSystem& files, const std::string& savesFolder) {
    std::vector<std::string> worlds;
    const auto entries = files.listFolder(savesFolder);
    if (!entries) {
        return worlds;
    }
    for (const ListedEntry& entry : *entries) {
        // An entry that could not be examined is left out rather than guessed at.
        if (entry.isDirectory.value_or(false)) {
            worlds.push_back(entry.name);
        }
    }
    return worlds;
}

} // namespace Plovermantle
