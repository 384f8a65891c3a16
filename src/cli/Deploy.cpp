#include "cli/Deploy.h"

#include "worlds/Archive.h"
#include "worlds/Messages.h"

namespace Plovermantle::Cli {

int exitStatus(CopyOutcome outcome) {
    switch (outcome) {
    case CopyOutcome::Deployed:
        return 0;
    case CopyOutcome::Failed:
    case CopyOutcome::Cancelled:
        return 1;
    case CopyOutcome::WorldExists:
        return 3;
    case CopyOutcome::DeployedPropertiesFailed:
        return 4;
    }
    return 1;
}

namespace {

// The window would ask; a script is told why nothing happened.
CopyOutcome told(TerminalDialogs& dialogs, CopyOutcome outcome) {
    if (outcome == CopyOutcome::WorldExists) {
        dialogs.runAlert({.messageText = Messages::worldExists.messageText,
                          .informativeText = "A world of that name is in the server folder. "
                                             "Nothing was copied: give --replace to replace it."});
    }
    return outcome;
}

ExistingWorld existing(TerminalDialogs& dialogs) {
    return dialogs.replaces() ? ExistingWorld::Replace : ExistingWorld::Keep;
}

} // namespace

CopyOutcome deployWorld(Platform platform, TerminalDialogs& dialogs, const std::string& saves,
                        const std::string& server, const std::string& world) {
    return told(dialogs,
                Plovermantle::deployWorld(platform, server, saves, world, existing(dialogs)));
}

CopyOutcome deployWorld(Platform platform, TerminalDialogs& dialogs, ArchiveWorldSource& source,
                        const std::string& server) {
    return told(dialogs, Plovermantle::deployWorld(platform, server, source, source.world().name,
                                                   existing(dialogs)));
}

} // namespace Plovermantle::Cli
