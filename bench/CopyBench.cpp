// Copies a folder tree the way the app deploys a world (plan, staged copy, flush to disk, move into
// place), without a window, and reports the time taken and the peak memory.
//
// Usage: plovermantle_copy_bench SOURCE DESTINATION   (DESTINATION must not exist)

#include "platform/LocalServerFolder.h"
#include "platform/LocalWorldSource.h"
#include "worlds/StagedCopy.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sys/resource.h>

namespace fs = std::filesystem;
using namespace Plovermantle;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOURCE DESTINATION\n", argv[0]);
        return 2;
    }
    const fs::path source = fs::absolute(argv[1]);
    const fs::path destination = fs::absolute(argv[2]);
    const auto start = std::chrono::steady_clock::now();

    const auto folder = LocalServerFolder::open(destination.parent_path().string());
    const auto world = LocalWorldSource::open(source.string());
    if (!folder || !world) {
        std::fprintf(stderr, "plovermantle_copy_bench: cannot open %s or %s\n", source.c_str(),
                     destination.parent_path().c_str());
        return 1;
    }
    WorkProgress last;
    const PlaceResult result =
        placeCopy(*folder, *world, destination.filename().string(), false, {},
                  [&](const WorkProgress& progress) {
                      last = progress;
                      return true;
                  })
            .result;

    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    if (result != PlaceResult::Placed || last.filesDone != last.filesTotal ||
        last.bytesDone != last.bytesTotal) {
        std::fprintf(stderr, "plovermantle_copy_bench: the copy failed after %llu of %llu files\n",
                     static_cast<unsigned long long>(last.filesDone),
                     static_cast<unsigned long long>(last.filesTotal));
        return 1;
    }
    std::printf("files=%llu bytes=%llu seconds=%.3f peak_rss_kib=%ld\n",
                static_cast<unsigned long long>(last.filesDone),
                static_cast<unsigned long long>(last.bytesDone), elapsed.count(), usage.ru_maxrss);
    return 0;
}
