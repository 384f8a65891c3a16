#pragma once

#include <string>
#include <vector>

namespace Plovermantle {

class FileSystem;

// The game launchers whose saves folders are looked for.
enum class Launcher { Game, GameFlatpak, Prism, PrismFlatpak };

// A place where a launcher keeps worlds: one saves folder, or a folder of instances, each with a
// saves folder of its own.
struct LauncherPlace {
    Launcher launcher;
    std::string path;
    bool holdsInstances = false;
};

// A saves folder found on this computer.
struct FoundSavesFolder {
    Launcher launcher;
    std::string instanceName; // the instance's display name (UTF-8); empty outside instances
    std::string path;

    bool operator==(const FoundSavesFolder&) const = default;
};

// Where the launchers of this platform keep worlds, for the current user.
std::vector<LauncherPlace> launcherPlaces();

// The saves folders in `places` that exist, in the order of `places`, each place's instances by
// name; a folder reached by two ways is offered once. Whatever is missing or unreadable is left
// out; nothing is ever reported.
std::vector<FoundSavesFolder> findSavesFolders(FileSystem& files,
                                               const std::vector<LauncherPlace>& places);

// Whether `path` is a folder, or a link that leads to one.
bool isFolder(FileSystem& files, const std::string& path);

} // namespace Plovermantle
