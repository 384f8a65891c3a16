// Feeds arbitrary bytes to the icon.png reduction: it must never crash, and what it keeps must be
// a PNG it would keep whole again, no larger than what it was given.
#include "worlds/IconPng.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view png(reinterpret_cast<const char*>(data), size);
    const auto kept = Plovermantle::iconImageChunks(png);
    if (kept && (kept->size() > size || Plovermantle::iconImageChunks(*kept) != kept)) {
        std::abort();
    }
    return 0;
}
