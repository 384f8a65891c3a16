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

// The app counts what it will copy before it starts, for its progress display.
void count(const fs::path& folder, Totals& totals) {
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        const fs::file_status status = entry.symlink_status();
        if (fs::is_directory(status)) {
            count(entry.path(), totals);
        } else {
            ++totals.files;
            if (fs::is_regular_file(status)) {
                totals.bytes += entry.file_size();
            }
        }
    }
}

void setTimes(const fs::path& path, const struct stat& like) {
    const timespec times[2] = {like.st_atim, like.st_mtim};
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        fail("cannot set the times of " + path.string());
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
    if (::fchmod(out, info.st_mode & 07777) != 0 || ::close(out) != 0) {
        fail("cannot finish " + to.string());
    }
    ::close(in);
    setTimes(to, info);
    ++done.files;
}

void copyTree(const fs::path& from, const fs::path& to, Totals& done) {
    struct stat folder {};
    if (::lstat(from.c_str(), &folder) != 0 || ::mkdir(to.c_str(), 0700) != 0) {
        fail("cannot make " + to.string());
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(from)) {
        const fs::path target = to / entry.path().filename();
        struct stat info {};
        if (::lstat(entry.path().c_str(), &info) != 0) {
            fail("cannot examine " + entry.path().string());
        }
        if (S_ISDIR(info.st_mode)) {
            copyTree(entry.path(), target, done);
        } else if (S_ISREG(info.st_mode)) {
            copyFile(entry.path(), target, info, done);
        } else if (S_ISLNK(info.st_mode)) {
            fs::create_symlink(fs::read_symlink(entry.path()), target);
            setTimes(target, info);
            ++done.files;
        }
    }
    if (::chmod(to.c_str(), folder.st_mode & 07777) != 0) {
        fail("cannot set the permissions of " + to.string());
    }
    setTimes(to, folder);
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
    count(source, total);
    Totals done;
    copyTree(source, destination, done);
    flush(destination);

    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    if (done.files != total.files || done.bytes != total.bytes) {
        std::fprintf(stderr, "plovermantle_copy_bench: copied %llu of %llu files\n",
                     static_cast<unsigned long long>(done.files),
                     static_cast<unsigned long long>(total.files));
        return 1;
    }
    std::printf("files=%llu bytes=%llu seconds=%.3f peak_rss_kib=%ld\n",
                static_cast<unsigned long long>(done.files),
                static_cast<unsigned long long>(done.bytes), elapsed.count(), usage.ru_maxrss);
    return 0;
}
