#include "cli/Deploy.h"

#include "worlds/Archive.h"
#include "worlds/Messages.h"
#include "worlds/WorldCopy.h"

namespace Plovermantle::Cli {

int exitStatus(Outcome outcome) {
    switch (outcome) {
    case Outcome::Deployed:
        return 0;
    case Outcome::Failed:
    case Outcome::Cancelled:
        return 1;
    case Outcome::WorldExists:
        return 3;
    case Outcome::DeployedPropertiesFailed:
        return 4;
    }
    return 1;
}

namespace {

// The window would ask; a script is told why nothing happened.
Outcome outcomeOf(TerminalDialogs& dialogs, CopyOutcome outcome) {
    if (outcome == CopyOutcome::WorldExists) {
        dialogs.runAlert({.messageText = Messages::worldExists.messageText,
                          .informativeText = "A world of that name is in the server folder. "
                                             "Nothing was copied: give --replace to replace it."});
    }
    switch (outcome) {
    case CopyOutcome::Deployed:
        return Outcome::Deployed;
    case CopyOutcome::Failed:
        return Outcome::Failed;
    case CopyOutcome::Cancelled:
        return Outcome::Cancelled;
    case CopyOutcome::WorldExists:
        return Outcome::WorldExists;
    case CopyOutcome::DeployedPropertiesFailed:
        return Outcome::DeployedPropertiesFailed;
    }
    return Outcome::Failed;
}

ExistingWorld existing(TerminalDialogs& dialogs) {
    return dialogs.replaces() ? ExistingWorld::Replace : ExistingWorld::Keep;
}

} // namespace

Outcome deployWorld(Platform platform, TerminalDialogs& dialogs, const std::string& saves,
                    const std::string& server, const std::string& world) {
    return outcomeOf(dialogs,
                     Plovermantle::deployWorld(platform, server, saves, world, existing(dialogs)));
}

Outcome deployWorld(Platform platform, TerminalDialogs& dialogs, ArchiveWorldSource& source,
                    const std::string& server) {
    return outcomeOf(dialogs, Plovermantle::deployWorld(platform, server, source,
                                                        source.world().name, existing(dialogs)));
}

} // namespace Plovermantle::Cli
