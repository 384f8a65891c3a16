// Hand-written because no C++ NBT library is packaged for Debian, and five fields need little.
#include "worlds/LevelDat.h"

#define ZLIB_CONST
#include <type_traits>
#include <zlib.h>

namespace Plovermantle {

namespace {

enum Tag : std::uint8_t {
    End,
    Byte,
    Short,
    Int,
    Long,
    Float,
    Double,
    ByteArray,
    String,
    List,
    Compound,
    IntArray,
    LongArray
};

// The game refuses deeper nesting too.
constexpr int maxDepth = 512;

// Reads big-endian NBT from a buffer. The first fault (a length beyond the bytes left, an unknown
// tag, too deep a nesting) sticks: every later read yields zeros and the result is thrown away.
class NbtReader {
public:
    explicit NbtReader(std::string_view data) : data_(data) {}

    bool ok() const { return ok_; }

    std::string_view bytes(std::size_t count) {
        if (!ok_ || count > data_.size()) {
            ok_ = false;
            return {};
        }
        const std::string_view taken = data_.substr(0, count);
        data_.remove_prefix(count);
        return taken;
    }

    template <class T> T number() {
        using Unsigned = std::make_unsigned_t<T>;
        Unsigned value = 0;
        for (const char byte : bytes(sizeof(T))) {
            value = static_cast<Unsigned>(value << 8 | static_cast<unsigned char>(byte));
        }
        return static_cast<T>(value);
    }

    std::string_view string() { return bytes(number<std::uint16_t>()); }

    // Reads the entries of a compound at `depth` up to its End tag. `visit(type, name)` reads the
    // payload it wants and answers true; the rest are skipped.
    template <class Visit> void compound(int depth, Visit visit) {
        fault(depth > maxDepth);
        while (ok_) {
            const auto type = number<std::uint8_t>();
            if (!ok_ || type == End) {
                return;
            }
            const std::string_view name = string();
            if (ok_ && !visit(type, name)) {
                skip(type, depth + 1);
            }
        }
    }

    void skip(std::uint8_t type, int depth) {
        switch (type) {
        case Byte:
            bytes(1);
            break;
        case Short:
            bytes(2);
            break;
        case Int:
        case Float:
            bytes(4);
            break;
        case Long:
        case Double:
            bytes(8);
            break;
        case ByteArray:
            array(1);
            break;
        case IntArray:
            array(4);
            break;
        case LongArray:
            array(8);
            break;
        case String:
            string();
            break;
        case Compound:
            compound(depth, [](std::uint8_t, std::string_view) { return false; });
            break;
        case List: {
            fault(depth > maxDepth);
            const auto element = number<std::uint8_t>();
            const auto count = number<std::int32_t>();
            // Every element but End takes at least a byte, so a count beyond the bytes left is
            // refused before it can make a long loop.
            fault(count < 0 || (count > 0 && (element == End || element > LongArray ||
                                              static_cast<std::size_t>(count) > data_.size())));
            for (std::int32_t i = 0; ok_ && i < count; ++i) {
                skip(element, depth + 1);
            }
            break;
        }
        default:
            fault(true);
        }
    }

private:
    void fault(bool faulty) { ok_ = ok_ && !faulty; }

    void array(std::size_t width) {
        const auto count = number<std::int32_t>();
        fault(count < 0 || static_cast<std::size_t>(count) > data_.size() / width);
        bytes(ok_ ? static_cast<std::size_t>(count) * width : 0);
    }

    std::string_view data_;
    bool ok_ = true;
};

std::optional<std::string> inflateBounded(std::string_view compressed, std::size_t limit) {
    if (compressed.size() > limit) {
        return std::nullopt;
    }
    z_stream stream{};
    // 32 added to the window bits: a gzip or zlib header, whichever is there.
    if (inflateInit2(&stream, MAX_WBITS + 32) != Z_OK) {
        return std::nullopt;
    }
    struct Ender {
        z_stream& stream;
        ~Ender() { inflateEnd(&stream); }
    } ender{stream};
    stream.next_in = reinterpret_cast<const Bytef*>(compressed.data());
    stream.avail_in = static_cast<uInt>(compressed.size());
    std::string out;
    unsigned char buffer[1 << 14];
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        stream.next_out = buffer;
        stream.avail_out = sizeof buffer;
        status = inflate(&stream, Z_NO_FLUSH);
        // Z_BUF_ERROR here means the input ended early: a truncated file.
        if ((status != Z_OK && status != Z_STREAM_END) ||
            out.size() + (sizeof buffer - stream.avail_out) > limit) {
            return std::nullopt;
        }
        out.append(reinterpret_cast<const char*>(buffer), sizeof buffer - stream.avail_out);
    }
    return out;
}

} // namespace

std::u16string decodeModifiedUtf8(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    const auto at = [&](std::size_t i) {
        return static_cast<char32_t>(bytes[i] & 0xff);
    };
    const auto continues = [&](std::size_t from, std::size_t count) {
        for (std::size_t i = from; i < from + count; ++i) {
            if (i >= bytes.size() || (at(i) & 0xc0) != 0x80) {
                return false;
            }
        }
        return true;
    };
    for (std::size_t i = 0; i < bytes.size();) {
        const char32_t lead = at(i);
        if (lead < 0x80) {
            out += static_cast<char16_t>(lead);
            i += 1;
        } else if ((lead & 0xe0) == 0xc0 && continues(i + 1, 1)) {
            out += static_cast<char16_t>((lead & 0x1f) << 6 | (at(i + 1) & 0x3f));
            i += 2;
        } else if ((lead & 0xf0) == 0xe0 && continues(i + 1, 2)) {
            // A surrogate stays one UTF-16 unit: its pair completes the character.
            out += static_cast<char16_t>((lead & 0x0f) << 12 | (at(i + 1) & 0x3f) << 6 |
                                         (at(i + 2) & 0x3f));
            i += 3;
        } else if ((lead & 0xf8) == 0xf0 && continues(i + 1, 3)) {
            const char32_t code = (lead & 0x07) << 18 | (at(i + 1) & 0x3f) << 12 |
                                  (at(i + 2) & 0x3f) << 6 | (at(i + 3) & 0x3f);
            if (code >= 0x10000 && code <= 0x10ffff) {
                out += static_cast<char16_t>(0xd800 + ((code - 0x10000) >> 10));
                out += static_cast<char16_t>(0xdc00 + ((code - 0x10000) & 0x3ff));
            } else {
                out += u'\ufffd';
            }
            i += 4;
        } else {
            out += u'\ufffd';
            i += 1;
        }
    }
    return out;
}

std::optional<LevelSummary> readLevelNbt(std::string_view nbt) {
    NbtReader in(nbt);
    LevelSummary summary;
    if (in.number<std::uint8_t>() != Compound) {
        return std::nullopt;
    }
    in.string(); // the root's name, empty in practice
    in.compound(0, [&](std::uint8_t type, std::string_view name) {
        if (type != Compound || name != "Data") {
            return false;
        }
        in.compound(1, [&](std::uint8_t field, std::string_view key) {
            if (field == String && key == "LevelName") {
                summary.name = decodeModifiedUtf8(in.string());
            } else if (field == Long && key == "LastPlayed") {
                summary.lastPlayed = in.number<std::int64_t>();
            } else if (field == Int && key == "GameType") {
                summary.gameType = in.number<std::int32_t>();
            } else if (field == Byte && key == "hardcore") {
                summary.hardcore = in.number<std::int8_t>() != 0;
            } else if (field == Compound && key == "Version") {
                in.compound(2, [&](std::uint8_t inner, std::string_view innerKey) {
                    if (inner != String || innerKey != "Name") {
                        return false;
                    }
                    summary.version = decodeModifiedUtf8(in.string());
                    return true;
                });
            } else {
                return false;
            }
            return true;
        });
        return true;
    });
    if (!in.ok()) {
        return std::nullopt;
    }
    return summary;
}

std::optional<LevelSummary> readLevelDat(std::string_view compressed) {
    const std::optional<std::string> nbt = inflateBounded(compressed, maxLevelDatBytes);
    return nbt ? readLevelNbt(*nbt) : std::nullopt;
}

} // namespace Plovermantle
