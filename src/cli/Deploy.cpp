#include "cli/Deploy.h"

#include "worlds/Archive.h"
#include "worlds/Messages.h"
#include "worlds/ServerProperties.h"
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

Outcome deployWorld(Platform platform, TerminalDialogs& dialogs, const std::string& saves,
                    const std::string& server, const std::string& world) {
    const CopyOutcome outcome = Plovermantle::deployWorld(
        platform, server, saves, world,
        dialogs.replaces() ? ExistingWorld::Replace : ExistingWorld::Keep);
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

Outcome deployWorld(Platform platform, TerminalDialogs& dialogs, ArchiveWorldSource& source,
                    const std::string& /*server*/) {
    // The copy reaches server folders through a world source once the two meet; until then an
    // archive can be listed but not deployed.
    platform.dialogs.runAlert(Messages::error(
        "Copying a world from an archive is not available in this build. Nothing was copied.",
        source.displayName()));
    (void)dialogs;
    return Outcome::Failed;
}

} // namespace Plovermantle::Cli
