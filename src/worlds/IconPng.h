#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Plovermantle {

// The largest icon decoded, in pixels each way; the game writes 64×64.
inline constexpr std::uint32_t maxIconSide = 1024;

// The PNG `png` with only the chunks that draw it (IHDR, PLTE, tRNS, IDAT, IEND): text,
// compressed text, profiles and every other extra are left out, so that a decoder has nothing to
// inflate but the image itself. Nothing when `png` is not a well-formed PNG, a checksum is wrong,
// it needs a chunk we do not know, or its image is larger than maxIconSide either way.
std::optional<std::string> iconImageChunks(std::string_view png);

} // namespace Plovermantle
