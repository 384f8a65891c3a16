// Makes a synthetic world for the copy benchmark: region files of 1-8 MiB with random contents (so
// no file system can compress or share them), many small files of 1-64 KiB, nested dimension
// folders, an empty folder and a symbolic link. The same size and seed make the same world.
//
// Usage: plovermantle_make_world FOLDER SIZE_MIB [SEED]

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t KiB = 1024;
constexpr std::uint64_t MiB = 1024 * KiB;

// splitmix64: fast, and good enough that the data does not compress.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    // Uniform enough in [low, high] for sizes.
    std::uint64_t between(std::uint64_t low, std::uint64_t high) {
        return low + next() % (high - low + 1);
    }

private:
    std::uint64_t state_;
};

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "plovermantle_make_world: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

void writeRandomFile(const fs::path& path, std::uint64_t size, Random& random) {
    static std::vector<std::uint64_t> buffer(MiB / sizeof(std::uint64_t));
    fs::create_directories(path.parent_path());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        fail("cannot create " + path.string());
    }
    while (size > 0) {
        for (std::uint64_t& word : buffer) {
            word = random.next();
        }
        const std::size_t piece = static_cast<std::size_t>(std::min(size, MiB));
        if (::write(fd, buffer.data(), piece) != static_cast<ssize_t>(piece)) {
            fail("cannot write " + path.string());
        }
        size -= piece;
    }
    if (::close(fd) != 0) {
        fail("cannot write " + path.string());
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: %s FOLDER SIZE_MIB [SEED]\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    const std::uint64_t total = std::strtoull(argv[2], nullptr, 10) * MiB;
    Random random(argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 20261206);
    if (fs::exists(root)) {
        errno = EEXIST;
        fail(root.string());
    }

    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
    const auto add = [&](const fs::path& relative, std::uint64_t size) {
        writeRandomFile(root / relative, size, random);
        ++files;
        bytes += size;
    };

    add("level.dat", 2 * KiB);
    add("level.dat_old", 2 * KiB);
    add("session.lock", 3);
    add("icon.png", 9 * KiB);
    fs::create_directories(root / "datapacks");
    fs::create_symlink("icon.png", root / "icon-link.png");

    // A tenth in small files, the rest in region files; the overworld holds most of it.
    const std::uint64_t smallBudget = total / 10;
    const std::array<const char*, 8> smallFolders = {"entities", "poi",         "DIM-1/entities",
                                                     "DIM1/poi", "data",        "playerdata",
                                                     "stats",    "advancements"};
    for (std::uint64_t spent = 0, index = 0; spent < smallBudget; ++index) {
        const std::uint64_t size = std::min(random.between(KiB, 64 * KiB), smallBudget - spent);
        const char* folder = smallFolders[index % smallFolders.size()];
        // Appended, not "f" + std::to_string(...): GCC 12 at -O3 reports a false -Wrestrict for
        // inserting a literal in front of a temporary string.
        std::string name = "f";
        name.append(std::to_string(index)).append(".dat");
        add(fs::path(folder) / name, size);
        spent += size;
    }
    const std::array<const char*, 3> dimensions = {"region", "DIM-1/region", "DIM1/region"};
    for (std::uint64_t spent = 0, index = 0; spent < total - smallBudget; ++index) {
        // Region files grow in 4 KiB sectors.
        const std::uint64_t size =
            std::min(random.between(MiB / (4 * KiB), 8 * MiB / (4 * KiB)) * 4 * KiB,
                     total - smallBudget - spent);
        const std::uint64_t pick = random.next() % 10;
        const char* folder = dimensions[pick < 7 ? 0 : pick < 9 ? 1 : 2];
        const auto x = static_cast<long long>(index % 20) - 10;
        const auto z = static_cast<long long>(index / 20) - 10;
        add(fs::path(folder) / ("r." + std::to_string(x) + "." + std::to_string(z) + ".mca"), size);
        spent += size;
    }
    std::printf("files=%llu bytes=%llu\n", static_cast<unsigned long long>(files),
                static_cast<unsigned long long>(bytes));
    return 0;
}
