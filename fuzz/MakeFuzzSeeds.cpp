// Writes the fuzzers' seeds: level.dat files as the game writes them, their NBT alone, and a few
// server.properties texts, into the folders given as arguments.
#include "support/LevelDatWriter.h"

#include <fstream>
#include <iostream>
#include <string>

namespace {

void write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace

int main(int argc, char** argv) {
    using namespace Plovermantle::LevelDatWriter;
    using namespace std::literals;
    if (argc != 3) {
        std::cerr << "usage: MakeFuzzSeeds LEVEL_DAT_DIR SERVER_PROPS_DIR\n";
        return 2;
    }
    const std::string levels = argv[1];
    const std::string props = argv[2];
    const std::string nbt[] = {
        levelNbt("New World", 1700000000000, 0, false, "1.20.4"),
        levelNbt("Gr\xc3\xb6\xc3\x9f\xc0\x80\xed\xa0\xbd\xed\xb8\x80", 0, 3, true, "24w14a")};
    for (int i = 0; i < 2; ++i) {
        write(levels + "/level" + std::to_string(i) + ".dat", gzip(nbt[i]));
        write(levels + "/level" + std::to_string(i) + ".nbt", nbt[i]);
    }
    write(props + "/plain", std::string(1, '\x05') + "World#comment\nlevel-name=world\nmotd=hi\n");
    write(props + "/odd", std::string(1, '\x07') + " a\\b\r\nLEVEL-NAME=x\r\n\0level-name="s);
    return 0;
}
