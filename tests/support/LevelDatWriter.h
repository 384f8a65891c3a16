#pragma once
// Writes level.dat files as the game does (gzip-compressed NBT), for the tests, the launch
// benchmark and the fuzzers' seeds.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <zlib.h>

namespace Plovermantle::LevelDatWriter {

// NBT, big-endian, built up in order; strings are given as their bytes (modified UTF-8).
struct Nbt {
    std::string bytes;

    template <class T> Nbt& number(T value) {
        for (int shift = 8 * static_cast<int>(sizeof(T)) - 8; shift >= 0; shift -= 8) {
            bytes += static_cast<char>(static_cast<std::uint64_t>(value) >> shift & 0xff);
        }
        return *this;
    }
    Nbt& string(std::string_view text) {
        number(static_cast<std::uint16_t>(text.size()));
        bytes += text;
        return *this;
    }
    Nbt& tag(std::uint8_t type, std::string_view name) { return number(type).string(name); }
    Nbt& end() { return number(std::uint8_t{0}); }
    Nbt& raw(std::string_view more) {
        bytes += more;
        return *this;
    }
};

inline std::string gzip(std::string_view data) {
    z_stream stream{};
    // 16 added to the window bits: a gzip header and trailer, as the game writes.
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, MAX_WBITS + 16, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (status != Z_STREAM_END) {
        throw std::runtime_error("deflate");
    }
    return out;
}

// The NBT of a level.dat holding the fields the world list reads among a few of every other
// kind, the way the game mixes them.
inline std::string levelNbt(std::string_view name, std::int64_t lastPlayed, std::int32_t gameType,
                            bool hardcore, std::string_view version) {
    Nbt nbt;
    nbt.tag(10, "").tag(10, "Data");
    nbt.tag(3, "DataVersion").number(std::int32_t{3700});
    nbt.tag(9, "ServerBrands").number(std::uint8_t{8}).number(std::int32_t{1}).string("vanilla");
    nbt.tag(10, "GameRules").tag(8, "doDaylightCycle").string("true").end();
    nbt.tag(6, "BorderSize").number(std::uint64_t{0x41cdcd6500000000});
    nbt.tag(5, "Temperature").number(std::uint32_t{0x3f000000});
    nbt.tag(2, "Padding").number(std::int16_t{7});
    nbt.tag(8, "LevelName").string(name);
    nbt.tag(4, "LastPlayed").number(lastPlayed);
    nbt.tag(3, "GameType").number(gameType);
    nbt.tag(1, "hardcore").number(static_cast<std::uint8_t>(hardcore));
    nbt.tag(10, "Version").tag(3, "Id").number(std::int32_t{3700}).tag(8, "Name").string(version);
    nbt.tag(1, "Snapshot").number(std::uint8_t{0}).end();
    nbt.tag(7, "Seeds").number(std::int32_t{2}).raw("ab");
    nbt.tag(11, "Pos").number(std::int32_t{1}).number(std::int32_t{-5});
    nbt.tag(12, "Uuid").number(std::int32_t{1}).number(std::int64_t{42});
    nbt.tag(9, "Players").number(std::uint8_t{10}).number(std::int32_t{1});
    nbt.tag(9, "Inventory").number(std::uint8_t{9}).number(std::int32_t{1});
    nbt.number(std::uint8_t{0}).number(std::int32_t{0}).end(); // a list of lists, the inner empty
    nbt.end().end();
    return nbt.bytes;
}

} // namespace Plovermantle::LevelDatWriter
