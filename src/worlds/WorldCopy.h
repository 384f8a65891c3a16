#pragma once

#include "platform/Platform.h"
#include "platform/ServerFolder.h"

#include <memory>
#include <string>

namespace Plovermantle {

// How a copy ended, for the command-line program's exit status.
enum class CopyOutcome {
    Deployed,
    Failed,
    Cancelled,
    WorldExists, // not replaced: the user declined, or the caller asked not to
    DeployedPropertiesFailed,
};

// What to do when the world is already in the server folder.
enum class ExistingWorld { Ask, Keep, Replace };

// Deploys the world `worldName` from `source` into `folder`: refuses a name that would not stay
// one folder there, a folder that is gone, a copy onto or into the world itself, a world open in
// the game or run by a server, and a folder another copy works in; asks before copying into a
// folder without server.properties or one whose server could not write the world, and before the
// world's items there give way (to the Trash); copies the world, points server.properties at it
// and tells the user how it went. Every outcome is told in alerts; on any failure or cancel the
// server folder is as it was. Cleaning up and the copy itself run through the dialogs'
// runWithProgress, where the user can cancel the copy. `platform.files` is used only to compare a
// local source with a local server folder.
CopyOutcome copyWorld(Platform& platform, ServerFolder& folder, WorldSource& source,
                      const std::string& worldName, ExistingWorld existing = ExistingWorld::Ask);

// The server folder the user named: a folder of this computer, or one on another computer
// (`[user@]host:/path`, `ssh://[user@]host[:port]/path`), connected to while the dialogs show
// progress and the user may cancel. Nothing, with why noted in `failure`, when it cannot be
// opened as a folder; nothing and no failure when the user cancelled.
std::unique_ptr<ServerFolder> openServerFolder(Platform& platform, const std::string& text,
                                               std::optional<FileFailure>& failure);

// Opens the server folder named by `serverFolderText` and deploys `source` into it under
// `worldName` (copyWorld); a folder that cannot be opened is told in an alert.
CopyOutcome deployWorld(Platform& platform, const std::string& serverFolderText,
                        WorldSource& source, const std::string& worldName,
                        ExistingWorld existing = ExistingWorld::Ask);
// The same for the world `worldName` of the saves folder `savesFolder`.
CopyOutcome deployWorld(Platform& platform, const std::string& serverFolderText,
                        const std::string& savesFolder, const std::string& worldName,
                        ExistingWorld existing = ExistingWorld::Ask);

} // namespace Plovermantle
