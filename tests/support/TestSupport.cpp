#include "TestSupport.h"

#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Plovermantle::Testing {

namespace fs = std::filesystem;

fs::path isolateHome() {
    static const QTemporaryDir dir; // removed when the process ends
    const fs::path home = dir.path().toStdString();
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home / ".cache").c_str(), 1);
    return home;
}

void writeFile(const fs::path& path, const std::string& contents) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!(out << contents)) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status.st_mode & 07777;
}

bool runAs(uid_t user, std::vector<gid_t> groups, const std::function<bool()>& work) {
    const pid_t child = ::fork();
    if (child == 0) {
        const bool dropped =
            user == 0 || (::setgroups(groups.size(), groups.data()) == 0 &&
                          ::setresgid(user, user, user) == 0 && ::setresuid(user, user, user) == 0);
        ::_exit(dropped && work() ? 0 : 1);
    }
    int status = -1;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool GameLock::take(const fs::path& file) {
    release();
    fd_ = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    return fd_ >= 0 && ::fcntl(fd_, F_OFD_SETLK, &lock) == 0;
}

void GameLock::release() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void buildTree(const fs::path& root, const std::vector<std::string>& entries) {
    fs::create_directories(root);
    for (const std::string& entry : entries) {
        const auto split = entry.find_first_of("=>", 2);
        const fs::path path = root / entry.substr(2, split - 2);
        const std::string value = split == std::string::npos ? "" : entry.substr(split + 1);
        fs::create_directories(entry[0] == 'd' ? path : path.parent_path());
        if (entry[0] == 'f' || entry[0] == 'l' || entry[0] == 'p') {
            fs::remove(path); // whatever stood there, unless a folder with something in it
        }
        if (entry[0] == 'f') {
            writeFile(path, value);
        } else if (entry[0] == 'l') {
            fs::create_symlink(value, path);
        } else if ((entry[0] == 'p' && ::mkfifo(path.c_str(), 0644) != 0) ||
                   (entry[0] == 'm' && ::chmod(path.c_str(), static_cast<mode_t>(std::stoul(
                                                                 value, nullptr, 8))) != 0)) {
            throw std::runtime_error("cannot build " + entry);
        }
    }
    const timespec longAgo[2] = {{1'000'000'000, 123'456'789}, {1'000'000'000, 123'456'789}};
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        ::utimensat(AT_FDCWD, item.path().c_str(), longAgo, AT_SYMLINK_NOFOLLOW);
    }
    ::utimensat(AT_FDCWD, root.c_str(), longAgo, AT_SYMLINK_NOFOLLOW);
}

Snapshot snapshotTree(const fs::path& path, const std::string& relative) {
    Snapshot items;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        throw std::runtime_error("cannot examine " + path.string());
    }
    const std::string common = std::to_string(status.st_mode & 07777) + " " +
                               std::to_string(status.st_mtim.tv_sec) + "." +
                               std::to_string(status.st_mtim.tv_nsec) + " ";
    if (S_ISDIR(status.st_mode)) {
        items[relative] = "folder " + common;
        for (const auto& entry : fs::directory_iterator(path)) {
            const std::string name = entry.path().filename().string();
            items.merge(
                snapshotTree(entry.path(), relative.empty() ? name : relative + "/" + name));
        }
    } else if (S_ISREG(status.st_mode)) {
        items[relative] =
            "file " + common + std::to_string(std::hash<std::string>{}(readFile(path)));
    } else if (S_ISLNK(status.st_mode)) {
        items[relative] = "link " + common + fs::read_symlink(path).string();
    }
    return items;
}

} // namespace Plovermantle::Testing
