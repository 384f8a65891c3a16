#pragma once

#include "worlds/TreeCopy.h"

#include <functional>
#include <optional>
#include <string>

namespace Plovermantle {

struct Platform;

// What one press of the copy button works from.
struct WorldCopyInputs {
    std::string serverPathText;               // the text the window's server folder field shows
    std::optional<std::string> selectedWorld; // the world's exact name, when one is selected
    std::optional<std::string> savesFolder;   // where the worlds are
    std::optional<std::string> serverFolder;  // where the world goes
};

// Deploys the selected world into the server folder: checks the inputs, refuses a world open in
// the game or run by a server and a folder another copy works in, asks before the world's items
// there give way (to the Trash), copies the world, has `pointServerAtWorld` point the server at
// it, and tells the user how it went. Every outcome is told in alerts; on any failure or cancel the
// server folder is as it was and `pointServerAtWorld` is not called. The copy itself runs through
// the dialogs' runWithProgress, where the user can cancel it.
void copyWorld(Platform& platform, const WorldCopyInputs& inputs,
               const std::function<void(const std::string& serverFolder)>& pointServerAtWorld);

} // namespace Plovermantle
