#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Plovermantle {

// Text a host chose (a login question, its instructions) made safe to show: control characters
// other than line breaks become spaces, so it cannot move a terminal's cursor or recolour it, and
// it is cut at `maxBytes` so a host cannot flood the screen.
inline std::string printableServerText(std::string_view text, std::size_t maxBytes = 512) {
    std::string out;
    for (const char c : text.substr(0, maxBytes)) {
        const auto byte = static_cast<unsigned char>(c);
        out.push_back(c == '\n' || (byte >= 0x20 && byte != 0x7f) ? c : ' ');
    }
    if (text.size() > maxBytes) {
        out += "…";
    }
    return out;
}

} // namespace Plovermantle
