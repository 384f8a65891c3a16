// Copies a folder tree with the app's copy engine, flushes it to disk as the app does before the
// copy takes a world's place, and reports the time taken and the peak memory.
//
// Usage: plovermantle_copy_bench SOURCE DESTINATION   (DESTINATION must not exist)

#include "platform/FileContentCopy.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace Plovermantle;

namespace {

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "plovermantle_copy_bench: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

struct Totals {
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
};

struct Item {
    fs::path relative;
    struct stat info;
};

// Like the app, finds everything first (for its progress display), folders before what they hold.
void plan(const fs::path& root, const fs::path& relative, std::vector<Item>& items,
          Totals& totals) {
    for (const fs::directory_entry& entry : fs::directory_iterator(root / relative)) {
        Item item{relative / entry.path().filename(), {}};
        if (::lstat(entry.path().c_str(), &item.info) != 0) {
            fail("cannot examine " + entry.path().string());
        }
        const bool folder = S_ISDIR(item.info.st_mode);
        if (!folder) {
            ++totals.files;
            totals.bytes +=
                S_ISREG(item.info.st_mode) ? static_cast<std::uint64_t>(item.info.st_size) : 0;
        }
        const fs::path inside = item.relative;
        items.push_back(std::move(item));
        if (folder) {
            plan(root, inside, items, totals);
        }
    }
}

void copyFile(const fs::path& from, const fs::path& to, const struct stat& info, Totals& done) {
    const int in = ::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0) {
        fail("cannot open " + from.string());
    }
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        fail("cannot create " + to.string());
    }
    if (!copyFileContents(in, out, [&](std::uint64_t bytes) {
            done.bytes += bytes;
            return true;
        })) {
        fail("cannot copy " + from.string());
    }
    const timespec times[2] = {info.st_atim, info.st_mtim};
    if (::fchmod(out, info.st_mode & 07777) != 0 || ::futimens(out, times) != 0 ||
        ::close(out) != 0) {
        fail("cannot finish " + to.string());
    }
    ::close(in);
    ++done.files;
}

void setTimes(const fs::path& path, const struct stat& like) {
    const timespec times[2] = {like.st_atim, like.st_mtim};
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        fail("cannot set the times of " + path.string());
    }
}

void copyTree(const fs::path& from, const fs::path& to, const std::vector<Item>& items,
              Totals& done) {
    if (::mkdir(to.c_str(), 0700) != 0) {
        fail("cannot make " + to.string());
    }
    for (const Item& item : items) {
        const fs::path target = to / item.relative;
        if (S_ISDIR(item.info.st_mode)) {
            if (::mkdir(target.c_str(), 0700) != 0) {
                fail("cannot make " + target.string());
            }
        } else if (S_ISREG(item.info.st_mode)) {
            copyFile(from / item.relative, target, item.info, done);
        } else if (S_ISLNK(item.info.st_mode)) {
            fs::create_symlink(fs::read_symlink(from / item.relative), target);
            setTimes(target, item.info);
            ++done.files;
        }
    }
    // Folders last, deepest first, once nothing more is written into them.
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        if (S_ISDIR(it->info.st_mode)) {
            const fs::path target = to / it->relative;
            if (::chmod(target.c_str(), it->info.st_mode & 07777) != 0) {
                fail("cannot set the permissions of " + target.string());
            }
            setTimes(target, it->info);
        }
    }
    struct stat root {};
    if (::lstat(from.c_str(), &root) != 0 || ::chmod(to.c_str(), root.st_mode & 07777) != 0) {
        fail("cannot set the permissions of " + to.string());
    }
    setTimes(to, root);
}

void flush(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#ifdef __linux__
    if (fd < 0 || ::syncfs(fd) != 0) {
        fail("cannot flush " + path.string());
    }
#else
    if (fd < 0 || ::fsync(fd) != 0) {
        fail("cannot flush " + path.string());
    }
#endif
    ::close(fd);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOURCE DESTINATION\n", argv[0]);
        return 2;
    }
    const fs::path source = argv[1];
    const fs::path destination = argv[2];
    const auto start = std::chrono::steady_clock::now();

    Totals total;
    std::vector<Item> items;
    plan(source, {}, items, total);
    const auto planned = std::chrono::steady_clock::now();
    Totals done;
    copyTree(source, destination, items, done);
    const auto copied = std::chrono::steady_clock::now();
    flush(destination);
    const auto flushed = std::chrono::steady_clock::now();
    using Seconds = std::chrono::duration<double>;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    if (done.files != total.files || done.bytes != total.bytes) {
        std::fprintf(stderr, "plovermantle_copy_bench: copied %llu of %llu files\n",
                     static_cast<unsigned long long>(done.files),
                     static_cast<unsigned long long>(total.files));
        return 1;
    }
    std::printf("files=%llu bytes=%llu seconds=%.3f (plan %.3f, copy %.3f, flush %.3f) "
                "peak_rss_kib=%ld\n",
                static_cast<unsigned long long>(done.files),
                static_cast<unsigned long long>(done.bytes), Seconds(flushed - start).count(),
                Seconds(planned - start).count(), Seconds(copied - planned).count(),
                Seconds(flushed - copied).count(), usage.ru_maxrss);
    return 0;
}
