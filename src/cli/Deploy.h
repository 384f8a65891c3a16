#pragma once

#include "cli/TerminalDialogs.h"
#include "platform/Platform.h"
#include "worlds/WorldCopy.h"

#include <string>

namespace Plovermantle {
class ArchiveWorldSource;
}

namespace Plovermantle::Cli {

// 0 deployed, 1 failed or cancelled, 3 the world exists and was not to be replaced, 4 deployed
// but server.properties does not point at it.
int exitStatus(CopyOutcome outcome);

// Deploys the world `world` of the saves folder `saves` into the server folder `server` and
// points the server at it, as the window's copy button does; the one place the command line meets
// the copy.
CopyOutcome deployWorld(Platform platform, TerminalDialogs& dialogs, const std::string& saves,
                        const std::string& server, const std::string& world);

// The same for a world inside an archive.
CopyOutcome deployWorld(Platform platform, TerminalDialogs& dialogs, ArchiveWorldSource& source,
                        const std::string& server);

} // namespace Plovermantle::Cli
