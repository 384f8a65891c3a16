#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Plovermantle {

// What the world list shows of a world's level.dat. Each field is absent when the file does not
// hold it with the expected type.
struct LevelSummary {
    std::optional<std::u16string> name;     // Data.LevelName
    std::optional<std::int64_t> lastPlayed; // Data.LastPlayed, milliseconds since the epoch
    std::optional<std::int32_t> gameType;   // Data.GameType: 0 Survival to 3 Spectator
    bool hardcore = false;                  // Data.hardcore
    std::optional<std::u16string> version;  // Data.Version.Name

    bool operator==(const LevelSummary&) const = default;
};

// level.dat is a few KiB; anything far bigger is not one.
inline constexpr std::size_t maxLevelDatBytes = 4u << 20;

// The summary of a gzip- (or zlib-) compressed level.dat; nothing when the data does not
// decompress whole, decompresses to more than maxLevelDatBytes, or is not well-formed NBT whose
// root is a compound.
std::optional<LevelSummary> readLevelDat(std::string_view compressed);

// The same for the decompressed NBT.
std::optional<LevelSummary> readLevelNbt(std::string_view nbt);

// Java's "modified UTF-8" as UTF-16: NUL comes as two bytes, characters beyond the BMP as two
// three-byte surrogates. Four-byte UTF-8, which some tools write, is taken too; a malformed byte
// becomes U+FFFD.
std::u16string decodeModifiedUtf8(std::string_view bytes);

} // namespace Plovermantle
