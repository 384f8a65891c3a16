#include "cli/Deploy.h"

#include "worlds/Archive.h"
#include "worlds/Messages.h"
#include "worlds/ServerProperties.h"
#include "worlds/WorldCopy.h"

#include <algorithm>

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
    bool propertiesFailed = false;
    copyWorld(platform, {server, world, saves, server}, [&](const std::string& serverFolder) {
        const std::size_t before = dialogs.shown.size();
        rewriteServerProps(platform, serverFolder, world);
        propertiesFailed = dialogs.shown.size() != before; // it speaks only of failures
    });
    // The copy tells how it ended in the alerts it shows.
    const auto shown = [&](const Alert& alert, int answer) {
        return std::ranges::any_of(dialogs.shown, [&](const auto& each) {
            return each.first.messageText == alert.messageText &&
                   each.first.informativeText == alert.informativeText && each.second == answer;
        });
    };
    if (shown(Messages::worldCopied, alertFirstButtonReturn)) {
        return propertiesFailed ? Outcome::DeployedPropertiesFailed : Outcome::Deployed;
    }
    if (shown(Messages::worldExists, alertFirstButtonReturn + 1)) {
        return Outcome::WorldExists;
    }
    return dialogs.stopped ? Outcome::Cancelled : Outcome::Failed;
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
