// Writes the archive fuzzer's seeds: a nested world, a server's set and a top-level level.dat, in
// every format the app reads, into the folder given.
#include "support/ArchiveWriter.h"

#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: MakeArchiveSeeds DIR\n";
        return 2;
    }
    const std::vector<std::string> world{
        "d:maps/Sky/",      "f:maps/Sky/level.dat=x",     "f:maps/Sky/region/r.0.0.mca=rr",
        "f:Sky_nether/a=n", "f:__MACOSX/maps/._Sky=j",    "l:maps/Sky/link>../x",
        "f:level.dat=top",  "f:maps/Café/level.dat=cafe", "h:maps/Sky/hard>maps/Sky/level.dat"};
    for (const char* format : {"zip", "zip-cp437", "7z", "tar", "tar.gz", "tar.xz", "tar.zst"}) {
        std::ofstream(std::string(argv[1]) + "/seed." + format, std::ios::binary)
            << Plovermantle::Testing::makeArchive(format, world);
    }
    return 0;
}
