#pragma once

#include "platform/Platform.h"

#include <string>
#include <string_view>

namespace Plovermantle {

// The text of a server.properties with every line that holds "level-name=", in any letter case and
// anywhere in the line, replaced by the one line "level-name=" followed by `worldName`. Lines are
// split at LF only; every other byte, CRs and the final LF or its absence included, comes out as it
// went in. The name is escaped where the server's properties reader would otherwise change it (a
// backslash, a CR or LF, a blank, tab or form feed at its start), so the server loads exactly the
// folder of that name.
std::string rewriteServerPropsText(std::string_view text, std::string_view worldName);

// Points the server in `serverFolderPath` at `worldName`: saves the text of its server.properties
// to server.properties.backup, then rewrites its level-name lines. Both files keep the group (the
// owner too, for the superuser) and permission bits server.properties had; a link at the backup is
// replaced, and a link at server.properties is followed only when the user made it. A file that
// cannot be read changes nothing; a failed write leaves the file it was writing whole. Each failure
// is told in one alert, with why behind its details; an empty server.properties is backed up and
// left empty, silently.
void rewriteServerProps(Platform platform, const std::string& serverFolderPath,
                        std::string_view worldName);

} // namespace Plovermantle
