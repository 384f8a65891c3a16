#pragma once

#include "platform/Dialogs.h"
#include "platform/ServerFolder.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace Plovermantle {

// A real server.properties holds a few KiB; anything past this is not one.
inline constexpr std::size_t serverPropsMaxBytes = 1 << 20;

// The line "level-name=" followed by `worldName` as Java's properties readers take it back
// exactly: a backslash, a leading blank and every character outside printable ASCII escaped
// (beyond the BMP as its UTF-16 surrogate pair), so the ISO-8859-1 reader of older servers and
// the UTF-8 reader of newer ones both find the folder of that name. Plain ASCII.
std::string levelNameLine(std::string_view worldName);
// The value of the last level-name entry in a server.properties, read as the server's properties
// reader reads it (comments, separators, escapes and continued lines); nothing when there is none.
std::optional<std::string> levelNameOf(std::string_view text);
// Whether a line of `text` holds "level-name=", in any letter case and anywhere in it.
bool hasLevelNameLine(std::string_view text);

// The text of a server.properties with every line that holds "level-name=", in any letter case and
// anywhere in the line, replaced by levelNameLine(worldName). Lines are split at LF only; every
// other byte, CRs and the final LF or its absence included, comes out as it went in.
std::string rewriteServerPropsText(std::string_view text, std::string_view worldName);

// Points the server in `folder` at `worldName`: saves the text of its server.properties (at most
// serverPropsMaxBytes) to server.properties.backup, then rewrites its level-name lines. Both files
// keep the owner, group and permission bits server.properties had. A file that cannot be read, or
// has no level-name line, is left as it is; a failed write leaves the file it was writing whole.
// Each of these is told in one alert, with why behind its details. Answers whether the server now
// names the world.
bool rewriteServerProps(Dialogs& dialogs, ServerFolder& folder, std::string_view worldName);

} // namespace Plovermantle
