#include "platform/PosixFileSystem.h"

#include <filesystem>
#include <system_error>

#ifdef __APPLE__
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace Plovermantle {

namespace {

bool isHidden(const fs::path& path, const std::string& name) {
    if (name.starts_with('.')) {
        return true;
    }
#ifdef __APPLE__
    // Finder also hides entries carrying the hidden flag.
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && (info.st_flags & UF_HIDDEN) != 0) {
        return true;
    }
#else
    (void)path;
#endif
    return false;
}

} // namespace

std::optional<std::vector<ListedEntry>> PosixFileSystem::listFolder(const std::string& folder) {
    std::error_code error;
    fs::directory_iterator it(fs::path(folder), error);
    if (error) {
        return std::nullopt;
    }
    std::vector<ListedEntry> entries;
    // An error part-way through ends the listing with what was read so far.
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const fs::path& path = it->path();
        std::string name = path.filename().string();
        if (isHidden(path, name)) {
            continue;
        }
        ListedEntry entry{std::move(name), std::nullopt};
        // Asked afresh rather than from the listing's cached type, so that an entry removed since
        // the folder was read shows as unreadable instead of as a folder.
        std::error_code statError;
        const fs::file_status status = fs::symlink_status(path, statError);
        if (!statError && status.type() != fs::file_type::not_found) {
            entry.isDirectory = status.type() == fs::file_type::directory;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

} // namespace Plovermantle
