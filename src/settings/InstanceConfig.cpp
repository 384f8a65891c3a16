#include "settings/InstanceConfig.h"

#include "platform/TextEscapes.h"

namespace Plovermantle {

namespace {

// Hand-written rather than through QSettings: that would need a file on disk and reads values
// that are not plain text (@Variant) as serialised objects, which untrusted input must not reach.

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (isBlank(text.back()) || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// The value as the INI writer meant it: quotes removed (blanks inside them kept), backslash
// escapes decoded, and the rest of the line after an unquoted ';' taken as a comment.
std::string unescaped(std::string_view value) {
    std::string out;
    bool quoted = false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ';' && !quoted) {
            break;
        } else if (c != '\\' || i + 1 == value.size()) {
            out += c;
        } else {
            const char e = value[++i];
            switch (e) {
            case 'a':
            case 'b':
            case 'f':
            case 'n':
            case 'r':
            case 't':
            case 'v':
            case '0':
                out += ' '; // a control character, which a menu cannot show
                break;
            case 'x': {
                char32_t code = 0;
                int digits = 0;
                for (; digits < 4 && i + 1 < value.size() && hexValue(value[i + 1]) >= 0;
                     ++digits) {
                    code = code * 16 + static_cast<char32_t>(hexValue(value[++i]));
                }
                appendUtf8(out, digits == 0 ? U'x' : code);
                break;
            }
            default:
                out += e; // \\, \", \' and anything unknown stand for themselves
            }
        }
    }
    return out;
}

// Control characters become blanks, blanks at either end go, and a name too long is cut where no
// character is split.
std::optional<std::string> cleaned(std::string name) {
    for (char& c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = ' ';
        }
    }
    if (name.size() > instanceNameLimit) {
        std::size_t cut = instanceNameLimit;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        name.resize(cut);
    }
    const std::string_view kept = trimmed(name);
    if (kept.empty()) {
        return std::nullopt;
    }
    return std::string(kept);
}

} // namespace

std::optional<std::string> instanceNameFromConfig(std::string_view config) {
    if (config.starts_with("\xEF\xBB\xBF")) {
        config.remove_prefix(3);
    }
    std::optional<std::string_view> lastValue;
    bool inGeneral = true; // keys before any section header belong to [General]
    while (!config.empty()) {
        const std::size_t end = config.find('\n');
        const std::string_view line = trimmed(config.substr(0, end));
        config.remove_prefix(end == std::string_view::npos ? config.size() : end + 1);
        if (line.starts_with('[')) {
            inGeneral = line == "[General]";
            continue;
        }
        const std::size_t equals = line.find('=');
        if (inGeneral && equals != std::string_view::npos &&
            trimmed(line.substr(0, equals)) == "name") {
            lastValue =
                trimmed(line.substr(equals + 1)); // a later entry overrides, as in QSettings
        }
    }
    if (!lastValue) {
        return std::nullopt;
    }
    std::string_view value = *lastValue;
    if (value.starts_with('@')) {
        // "@@" stands for one '@'; any other '@' form is a serialised object, not a name.
        if (!value.starts_with("@@")) {
            return std::nullopt;
        }
        value.remove_prefix(1);
    }
    return cleaned(unescaped(value));
}

} // namespace Plovermantle
