#include "TreeSnapshot.h"

#include "TestSupport.h"

#include <algorithm>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace Plovermantle::Testing {

namespace fs = std::filesystem;

namespace {

void makeSocket(const fs::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = path.string();
    if (name.size() >= sizeof(address.sun_path)) {
        throw std::runtime_error("socket path too long: " + name);
    }
    std::copy(name.begin(), name.end(), address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    // The socket file stays after the descriptor is closed.
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        throw std::runtime_error("cannot make socket " + name);
    }
    ::close(fd);
}

void setMode(const fs::path& path, const std::string& octal) {
    if (::chmod(path.c_str(), static_cast<mode_t>(std::stoul(octal, nullptr, 8))) != 0) {
        throw std::runtime_error("cannot chmod " + path.string());
    }
}

void snapshotInto(std::map<std::string, std::string>& items, const fs::path& path,
                  const std::string& relative, bool withSpecial) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        throw std::runtime_error("cannot examine " + path.string());
    }
    const std::string common = std::to_string(status.st_mode & 07777) + " " +
                               std::to_string(status.st_mtim.tv_sec) + "." +
                               std::to_string(status.st_mtim.tv_nsec);
    if (S_ISDIR(status.st_mode)) {
        items[relative] = "folder " + common;
        for (const auto& entry : fs::directory_iterator(path)) {
            const std::string name = entry.path().filename().string();
            snapshotInto(items, entry.path(), relative.empty() ? name : relative + "/" + name,
                         withSpecial);
        }
    } else if (S_ISREG(status.st_mode)) {
        items[relative] = "file " + common + " " + readFile(path);
    } else if (S_ISLNK(status.st_mode)) {
        items[relative] = "link " + std::to_string(status.st_mtim.tv_sec) + " -> " +
                          fs::read_symlink(path).string();
    } else if (withSpecial) {
        items[relative] = "special " + common;
    }
}

} // namespace

void buildTree(const fs::path& root, const std::vector<std::string>& entries) {
    fs::create_directories(root);
    for (const std::string& entry : entries) {
        const std::string body = entry.substr(2);
        switch (entry[0]) {
        case 'd': {
            const auto colon = body.find(':');
            fs::create_directories(root / body.substr(0, colon));
            if (colon != std::string::npos) {
                setMode(root / body.substr(0, colon), body.substr(colon + 1));
            }
            break;
        }
        case 'f': {
            const auto equals = body.find('=');
            const std::string name = body.substr(0, equals);
            std::string contents = equals == std::string::npos ? "" : body.substr(equals + 1);
            const auto colon = contents.rfind(':');
            std::string mode;
            if (colon != std::string::npos && contents.size() - colon >= 4 &&
                contents.find_first_not_of("01234567", colon + 1) == std::string::npos) {
                mode = contents.substr(colon + 1);
                contents.resize(colon);
            }
            writeFile(root / name, contents);
            if (!mode.empty()) {
                setMode(root / name, mode);
            }
            break;
        }
        case 'l': {
            const auto arrow = body.find('>');
            fs::create_directories((root / body.substr(0, arrow)).parent_path());
            fs::create_symlink(body.substr(arrow + 1), root / body.substr(0, arrow));
            break;
        }
        case 'p':
            fs::create_directories((root / body).parent_path());
            if (::mkfifo((root / body).c_str(), 0644) != 0) {
                throw std::runtime_error("cannot make pipe " + body);
            }
            break;
        case 's':
            fs::create_directories((root / body).parent_path());
            makeSocket(root / body);
            break;
        default:
            throw std::runtime_error("bad tree entry " + entry);
        }
    }
}

std::map<std::string, std::string> snapshotTree(const fs::path& path, bool withSpecial) {
    std::map<std::string, std::string> items;
    snapshotInto(items, path, std::string(), withSpecial);
    return items;
}

void makeRemovable(const fs::path& root) {
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(root, error))) {
        return;
    }
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, error);
    for (const auto& entry : fs::directory_iterator(root, error)) {
        makeRemovable(entry.path());
    }
}

std::vector<std::string> workingFoldersIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(".plovermantle")) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace Plovermantle::Testing
