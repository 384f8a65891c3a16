#include "worlds/ServerProperties.h"

#include "worlds/Messages.h"

#include <algorithm>

namespace Plovermantle {

namespace {

constexpr std::string_view levelNameKey = "level-name=";

bool asciiLowerEquals(char lineChar, char keyChar) {
    const char lower =
        lineChar >= 'A' && lineChar <= 'Z' ? static_cast<char>(lineChar - 'A' + 'a') : lineChar;
    return lower == keyChar;
}

// Folding ASCII letters alone is enough: the key is all ASCII, no other character lower-cases to
// one of its letters, and UTF-8 never uses an ASCII byte inside a longer character.
bool holdsLevelNameKey(std::string_view line) {
    return std::search(line.begin(), line.end(), levelNameKey.begin(), levelNameKey.end(),
                       asciiLowerEquals) != line.end();
}

// The server reads the file as Java properties: a backslash starts an escape, a line break ends the
// value, and blanks before the value are skipped. Everything else, non-ASCII included, is taken
// verbatim.
std::string levelNameLine(std::string_view worldName) {
    std::string line(levelNameKey);
    line.reserve(line.size() + worldName.size() + 2);
    for (std::size_t i = 0; i < worldName.size(); ++i) {
        const char c = worldName[i];
        switch (c) {
        case '\\':
            line += "\\\\";
            break;
        case '\n':
            line += "\\n";
            break;
        case '\r':
            line += "\\r";
            break;
        case ' ':
        case '\t':
        case '\f':
            // Only a leading one would be skipped; an escaped one is kept.
            if (i == 0) {
                line += '\\';
            }
            line += c;
            break;
        default:
            line += c;
        }
    }
    return line;
}

} // namespace

std::string rewriteServerPropsText(std::string_view text, std::string_view worldName) {
    const std::string replacement = levelNameLine(worldName);
    std::string result;
    result.reserve(text.size());
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        const std::string_view line = text.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        result += holdsLevelNameKey(line) ? std::string_view(replacement) : line;
        if (end == std::string_view::npos) {
            return result;
        }
        result += '\n';
        start = end + 1;
    }
}

void rewriteServerProps(Platform platform, const std::string& serverFolderPath,
                        std::string_view worldName) {
    FileSystem& files = platform.files;
    const auto tell = [&](const Alert& alert) {
        platform.dialogs.runAlert(Messages::withDetails(alert, files.takeFailure()));
    };
    const std::string propsPath = serverFolderPath + "/server.properties";
    const std::string backupPath = serverFolderPath + "/server.properties.backup";
    files.takeFailure();
    // Through a link only when the user made it; then the file it leads to is rewritten.
    const std::optional<TextFile> file = files.readTextFile(propsPath);
    if (!file) {
        tell(Messages::propsUnreadable);
        return;
    }
    // The backup is as private as the file it copies: it may hold the remote console's password.
    if (!files.writeFileAtomically(backupPath, file->text, file->info)) {
        tell(Messages::propsWriteFailed);
        return;
    }
    if (file->text.empty()) {
        return;
    }
    // Written even when no line matched, so that an unwritable file is told whatever it holds.
    if (!files.writeFileAtomically(file->path, rewriteServerPropsText(file->text, worldName),
                                   file->info)) {
        tell(Messages::propsWriteFailed);
    }
}

} // namespace Plovermantle
