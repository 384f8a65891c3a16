// Any bytes as a level.dat, as its NBT once decompressed, and as a string of the NBT: each must
// give an answer, never a crash, a hang or an allocation out of bounds.
#include "worlds/LevelDat.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // Mutations of a compressed seed seldom pass its checksum, so the NBT is fed directly too.
    (void)Plovermantle::readLevelDat(bytes);
    (void)Plovermantle::readLevelNbt(bytes);
    if (Plovermantle::decodeModifiedUtf8(bytes).size() > size) {
        __builtin_trap(); // each UTF-16 unit comes from at least one byte
    }
    return 0;
}
