#include "worlds/ServerProperties.h"

#include "worlds/Messages.h"

#include <QString>
#include <algorithm>

namespace Plovermantle {

namespace {

constexpr std::string_view levelNameKey = "level-name=";
constexpr std::string_view propsName = "server.properties";

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

} // namespace

std::string levelNameLine(std::string_view worldName) {
    std::string line(levelNameKey);
    const QString name =
        QString::fromUtf8(worldName.data(), static_cast<qsizetype>(worldName.size()));
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t unit = name[i].unicode();
        switch (unit) {
        case u'\\':
            line += "\\\\";
            continue;
        case u'\n':
            line += "\\n";
            continue;
        case u'\r':
            line += "\\r";
            continue;
        case u'\t':
            line += "\\t";
            continue;
        case u'\f':
            line += "\\f";
            continue;
        case u' ':
            // Only a leading one would be skipped; an escaped one is kept.
            line += i == 0 ? "\\ " : " ";
            continue;
        default:
            break;
        }
        if (unit < 0x20 || unit > 0x7e) {
            static constexpr char hex[] = "0123456789ABCDEF";
            line += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) {
                line += hex[(unit >> shift) & 0xf];
            }
        } else {
            line += static_cast<char>(unit);
        }
    }
    return line;
}

bool hasLevelNameLine(std::string_view text) {
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        if (holdsLevelNameKey(text.substr(start, end - start))) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

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

bool rewriteServerProps(Dialogs& dialogs, ServerFolder& folder, std::string_view worldName) {
    const auto tell = [&](const Alert& alert) {
        dialogs.runAlert(Messages::withDetails(alert, folder.takeFailure()));
        return false;
    };
    const std::string line = levelNameLine(worldName);
    folder.takeFailure();
    // Through a link only when the user made it; then the file it leads to is rewritten.
    const std::optional<TextFile> file =
        folder.readTextFile(std::string(propsName), serverPropsMaxBytes);
    if (!file) {
        return tell(Messages::propsNotRead(line));
    }
    // The backup is as private as the file it copies: it may hold the remote console's password.
    if (!folder.writeFileAtomically(std::string(propsName) + ".backup", file->text, file->info)) {
        return tell(Messages::propsWriteFailed);
    }
    if (!hasLevelNameLine(file->text)) {
        return tell(Messages::noLevelNameLine(line));
    }
    if (!folder.writeFileAtomically(file->path, rewriteServerPropsText(file->text, worldName),
                                    file->info)) {
        return tell(Messages::propsWriteFailed);
    }
    return true;
}

} // namespace Plovermantle
