#include "platform/PosixFileSystem.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QSaveFile>
#include <QString>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

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

// Qt names files by QString. A path whose bytes do not come back unchanged from that trip (not
// UTF-8, or holding a NUL) would name some other file, so it is refused instead.
std::optional<QString> qtFileName(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    const QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
    QString name = QFile::decodeName(bytes);
    if (QFile::encodeName(name) != bytes) {
        return std::nullopt;
    }
    return name;
}

// Closes the file descriptor it holds when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

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

std::optional<std::string> PosixFileSystem::readTextFile(const std::string& path) {
    // By hand rather than through QFile or a stream: opened without blocking and checked on the
    // open descriptor, so that a FIFO or device in the file's place is refused, not waited on.
    if (path.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    std::string contents;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got == 0) {
            break;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        contents.append(buffer, static_cast<std::size_t>(got));
    }
    if (!QByteArrayView(contents.data(), static_cast<qsizetype>(contents.size())).isValidUtf8()) {
        return std::nullopt;
    }
    return contents;
}

bool PosixFileSystem::writeFileAtomically(const std::string& path, std::string_view contents) {
    // QSaveFile writes a temporary file in the target's folder and renames it over the target on
    // commit; it copies the old file's permissions and follows a symbolic link to its file.
    const auto name = qtFileName(path);
    if (!name) {
        return false;
    }
    QSaveFile file(*name);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    const auto size = static_cast<qint64>(contents.size());
    if (file.write(contents.data(), size) != size) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace Plovermantle
