// Any server.properties text with any world name: the rewrite must neither crash nor add or drop
// a line, whatever the name holds; the reader takes any text, and reads an ASCII name back as it
// was written (the unit tables hold the rest of Unicode).
#include "worlds/ServerProperties.h"

#include <algorithm>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte tells how long the name is; the name, then the text, follow.
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string_view name = rest.substr(0, data[0] % 64);
    const std::string_view text = rest.substr(name.size());
    const std::string out = Plovermantle::rewriteServerPropsText(text, name);
    if (std::count(out.begin(), out.end(), '\n') != std::count(text.begin(), text.end(), '\n')) {
        __builtin_trap();
    }
    (void)Plovermantle::levelNameOf(text);
    if (std::ranges::all_of(name, [](char c) { return static_cast<unsigned char>(c) < 0x80; }) &&
        Plovermantle::levelNameOf(Plovermantle::levelNameLine(name)) != std::string(name)) {
        __builtin_trap();
    }
    return 0;
}
