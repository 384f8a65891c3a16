// The file system's Trash, through Qt, for the copy that still reaches the disk by path.
#include "platform/PosixFileSystem.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QString>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Plovermantle {

namespace {

#ifndef __APPLE__
// Qt looks for the home Trash without making the folders above it, and where they are missing it
// moves the item into a relative "files" folder of the current directory and calls that a
// success: the Trash is made first, as a file manager would. Answers whether it is there.
bool makeHomeTrash() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty() || !QDir::isAbsolutePath(data) || !QDir().mkpath(data)) {
        return false;
    }
    bool made = true;
    for (const char* folder : {"/Trash", "/Trash/files", "/Trash/info"}) {
        const QByteArray path = QFile::encodeName(data + QLatin1String(folder));
        struct stat status {};
        ::mkdir(path.constData(), S_IRWXU);
        made = made && ::lstat(path.constData(), &status) == 0 && S_ISDIR(status.st_mode);
    }
    return made;
}

// Where the record of an item moved to `moved` lies, when it is a freedesktop Trash's
// "<trash>/files/<name>": "<trash>/info/<name>.trashinfo".
std::string trashRecordOf(const fs::path& moved) {
    const fs::path files = moved.parent_path();
    if (files.filename() != "files") {
        return {};
    }
    return (files.parent_path() / "info" / (moved.filename().string() + ".trashinfo")).string();
}
#endif

bool isRegularFile(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

} // namespace

std::optional<TrashedItem> PosixFileSystem::moveToTrash(const std::string& path) {
    const auto name = qtFileName(path);
    if (!name) {
        return std::nullopt;
    }
#ifndef __APPLE__
    // Without a home Trash, Qt would use that relative folder for anything it cannot trash on the
    // item's own disk.
    if (!makeHomeTrash()) {
        return std::nullopt;
    }
#endif
    QString inTrash;
    if (!QFile::moveToTrash(*name, &inTrash)) {
        return std::nullopt;
    }
    const QByteArray encoded = QFile::encodeName(inTrash);
    const fs::path moved(encoded.toStdString());
#ifdef __APPLE__
    const std::string record;
    const bool inATrash = moved.is_absolute();
#else
    const std::string record = trashRecordOf(moved);
    const bool inATrash = moved.is_absolute() && !record.empty() && isRegularFile(record);
#endif
    if (inATrash) {
        return TrashedItem{moved.string(), record};
    }
    // Accepted only inside a Trash: anywhere else the item goes back where it was.
    if (renameItem(moved.string(), path) && !record.empty() && isRegularFile(record)) {
        ::unlink(record.c_str());
    }
    return std::nullopt;
}

} // namespace Plovermantle
