#include "worlds/ServerProperties.h"

#include "platform/TextEscapes.h"
#include "worlds/Messages.h"

#include <algorithm>
#include <vector>

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

// The UTF-16 units of UTF-8 `text`, as Java holds a string; a byte that starts no valid sequence
// stands for U+FFFD.
std::u16string utf16(std::string_view text) {
    std::u16string units;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = [&](std::size_t at) {
            return static_cast<unsigned char>(text[at]);
        };
        const unsigned lead = byte(i);
        const std::size_t length = lead < 0x80   ? 1
                                   : lead < 0xc2 ? 0
                                   : lead < 0xe0 ? 2
                                   : lead < 0xf0 ? 3
                                   : lead < 0xf5 ? 4
                                                 : 0;
        char32_t point = length == 1 ? lead : lead & (0x7fu >> length);
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = (byte(i + k) & 0xc0) == 0x80;
            point = (point << 6) | (byte(i + k) & 0x3f);
        }
        valid = valid && !(length == 3 && (point < 0x800 || (point >= 0xd800 && point < 0xe000))) &&
                !(length == 4 && (point < 0x10000 || point > 0x10ffff));
        if (!valid) {
            units += u'\ufffd';
            ++i;
            continue;
        }
        if (point >= 0x10000) {
            units += static_cast<char16_t>(0xd800 + ((point - 0x10000) >> 10));
            units += static_cast<char16_t>(0xdc00 + ((point - 0x10000) & 0x3ff));
        } else {
            units += static_cast<char16_t>(point);
        }
        i += length;
    }
    return units;
}

bool isPropertiesBlank(char c) {
    return c == ' ' || c == '\t' || c == '\f';
}

std::string_view withoutLeadingBlanks(std::string_view text) {
    while (!text.empty() && isPropertiesBlank(text.front())) {
        text.remove_prefix(1);
    }
    return text;
}

// The logical lines of a properties text: line ends of any kind, a line ending in an odd number
// of backslashes continued on the next without its leading blanks.
std::vector<std::string> logicalLines(std::string_view text) {
    std::vector<std::string> lines;
    std::string current;
    bool continued = false;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find_first_of("\r\n", at);
        end = end == std::string_view::npos ? text.size() : end;
        const std::string_view line = text.substr(at, end - at);
        current += continued ? withoutLeadingBlanks(line) : line;
        std::size_t backslashes = 0;
        while (backslashes < current.size() && current[current.size() - 1 - backslashes] == '\\') {
            ++backslashes;
        }
        continued = backslashes % 2 == 1 && end < text.size();
        if (continued) {
            current.pop_back();
        } else {
            lines.push_back(std::move(current));
            current.clear();
        }
        at = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
    }
    return lines;
}

// `escaped` with the properties reader's escapes resolved.
std::string unescape(std::string_view escaped) {
    std::string out;
    char16_t high = 0;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        char c = escaped[i];
        if (c != '\\' || i + 1 == escaped.size()) {
            out += c;
            continue;
        }
        c = escaped[++i];
        if (c == 'u') {
            int value = 0;
            for (std::size_t k = 1; k <= 4 && value >= 0; ++k) {
                const int digit = i + k < escaped.size() ? hexValue(escaped[i + k]) : -1;
                value = digit < 0 ? -1 : value * 16 + digit;
            }
            if (value < 0) {
                out += 'u'; // not an escape after all; the server refuses such a file anyway
                continue;
            }
            i += 4;
            const auto unit = static_cast<char16_t>(value);
            if (unit >= 0xD800 && unit < 0xDC00) {
                high = unit;
                continue;
            }
            if (unit >= 0xDC00 && unit < 0xE000 && high != 0) {
                appendUtf8(out, 0x10000 + ((char32_t(high) - 0xD800) << 10) + (unit - 0xDC00));
            } else {
                appendUtf8(out, unit);
            }
            high = 0;
            continue;
        }
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c == 'f' ? '\f' : c;
    }
    return out;
}

} // namespace

std::optional<std::string> levelNameOf(std::string_view text) {
    std::optional<std::string> found;
    for (const std::string& whole : logicalLines(text)) {
        const std::string_view line = withoutLeadingBlanks(whole);
        if (line.empty() || line.front() == '#' || line.front() == '!') {
            continue;
        }
        std::size_t keyEnd = 0;
        while (keyEnd < line.size() && line[keyEnd] != '=' && line[keyEnd] != ':' &&
               !isPropertiesBlank(line[keyEnd])) {
            keyEnd += line[keyEnd] == '\\' ? std::size_t{2} : std::size_t{1};
        }
        keyEnd = std::min(keyEnd, line.size());
        if (unescape(line.substr(0, keyEnd)) != "level-name") {
            continue;
        }
        std::string_view value = withoutLeadingBlanks(line.substr(keyEnd));
        if (!value.empty() && (value.front() == '=' || value.front() == ':')) {
            value.remove_prefix(1);
        }
        found = unescape(withoutLeadingBlanks(value));
    }
    return found;
}

std::string levelNameLine(std::string_view worldName) {
    std::string line(levelNameKey);
    const std::u16string name = utf16(worldName);
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char16_t unit = name[i];
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
