#include "worlds/IconPng.h"

#include <array>
#include <zlib.h>

namespace Plovermantle {

namespace {

constexpr std::string_view signature("\x89PNG\r\n\x1a\n", 8);

std::uint32_t bigEndian(std::string_view bytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value = value << 8 | static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
    }
    return value;
}

bool isChunkType(std::string_view type) {
    for (const char c : type) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) {
            return false;
        }
    }
    return true;
}

// A header the decoder can use for an icon: its size within bounds, and a colour type and bit
// depth that go together.
bool isIconHeader(std::string_view data) {
    if (data.size() != 13) {
        return false;
    }
    const std::uint32_t width = bigEndian(data.substr(0, 4));
    const std::uint32_t height = bigEndian(data.substr(4, 4));
    const auto depth = static_cast<unsigned char>(data[8]);
    const auto colour = static_cast<unsigned char>(data[9]);
    const bool depthFits = colour == 0
                               ? depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16
                           : colour == 3 ? depth == 1 || depth == 2 || depth == 4 || depth == 8
                           : colour == 2 || colour == 4 || colour == 6 ? depth == 8 || depth == 16
                                                                       : false;
    return width >= 1 && height >= 1 && width <= maxIconSide && height <= maxIconSide &&
           depthFits && data[10] == 0 && data[11] == 0 && (data[12] == 0 || data[12] == 1);
}

} // namespace

std::optional<std::string> iconImageChunks(std::string_view png) {
    if (!png.starts_with(signature)) {
        return std::nullopt;
    }
    std::string kept(signature);
    bool sawHeader = false;
    bool sawData = false;
    std::size_t at = signature.size();
    while (png.size() - at >= 12) {
        const std::uint32_t length = bigEndian(png.substr(at, 4));
        if (length > png.size() - at - 12) {
            return std::nullopt;
        }
        const std::string_view typeAndData = png.substr(at + 4, 4 + std::size_t{length});
        const std::string_view type = typeAndData.substr(0, 4);
        const std::string_view data = typeAndData.substr(4);
        const std::uint32_t checksum = bigEndian(png.substr(at + 8 + length, 4));
        const std::string_view chunk = png.substr(at, 12 + std::size_t{length});
        at += chunk.size();
        if (!isChunkType(type) || crc32(0, reinterpret_cast<const Bytef*>(typeAndData.data()),
                                        static_cast<uInt>(typeAndData.size())) != checksum) {
            return std::nullopt;
        }
        if (!sawHeader) {
            if (type != "IHDR" || !isIconHeader(data)) {
                return std::nullopt;
            }
            sawHeader = true;
        } else if (type == "IHDR") {
            return std::nullopt;
        } else if (type == "IEND") {
            return sawData ? std::optional(kept.append(chunk)) : std::nullopt;
        } else if (type == "IDAT") {
            sawData = true;
        } else if (type != "PLTE" && type != "tRNS") {
            // An extra (lower-case first letter) is left out; a critical chunk we do not know
            // means an image we cannot draw.
            if (type[0] >= 'A' && type[0] <= 'Z') {
                return std::nullopt;
            }
            continue;
        }
        kept.append(chunk);
    }
    return std::nullopt; // no IEND
}

} // namespace Plovermantle
