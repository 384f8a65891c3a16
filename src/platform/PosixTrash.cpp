// The file system's Trash, for the copy that still reaches the disk by path.
#include "platform/Descriptors.h"
#include "platform/PosixFileSystem.h"
#include "platform/Trash.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Plovermantle {

// Qt's own Trash on macOS only: elsewhere our freedesktop Trash, relative to the item's open
// folder, since Qt's loops where it cannot write a record, leaves the record's path unescaped and
// follows links.
std::optional<TrashedItem> PosixFileSystem::moveToTrash(const std::string& path) {
#ifdef __APPLE__
    const QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
    QString inTrash;
    if (path.find('\0') != std::string::npos ||
        !QFile::moveToTrash(QFile::decodeName(bytes), &inTrash)) {
        return std::nullopt;
    }
    const fs::path moved(QFile::encodeName(inTrash).toStdString());
    if (moved.is_absolute()) {
        return TrashedItem{moved.string(), {}};
    }
    // Accepted only inside a Trash: anywhere else the item goes back where it was.
    renameItem(moved.string(), path);
    return std::nullopt;
#else
    const fs::path item(path);
    const std::string parent = item.parent_path().string();
    const std::string name = item.filename().string();
    if (!item.is_absolute() || name.empty() || name == "." || name == "..") {
        noteFailure({"move to the Trash", path, std::make_error_code(std::errc::invalid_argument)});
        return std::nullopt;
    }
    const Descriptor folder(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) {
        noteFailure({"open", parent, std::error_code(errno, std::system_category())});
        return std::nullopt;
    }
    FileFailure failure;
    auto trashed = Plovermantle::moveToTrash(folder.get(), parent, name, &failure);
    if (!trashed) {
        noteFailure(failure);
    }
    return trashed;
#endif
}

} // namespace Plovermantle
