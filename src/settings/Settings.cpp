#include "settings/Settings.h"

#include "platform/FileSystem.h"
#include "platform/Preferences.h"
#include "settings/SavesFolders.h"

#include <QDir>
#include <QFile>
#include <QtGlobal>
#include <filesystem>

namespace Plovermantle {

// Function-local statics: created on first use, thread-safely, and kept to the end of the process.

const std::string& serverPathConst() {
    static const std::string key = "serverPathKey";
    return key;
}

const std::string& savesPathConst() {
    static const std::string key = "savesPathKey";
    return key;
}

std::optional<std::string>& globalFullPath() {
    static std::optional<std::string> value = std::string();
    return value;
}

std::optional<std::string>& globalServerPath() {
    static std::optional<std::string> value = std::string();
    return value;
}

std::string getUserLib() {
#if defined(Q_OS_MACOS)
    return QFile::encodeName(QDir::homePath() + QStringLiteral("/Library")).toStdString();
#elif defined(Q_OS_WIN)
    return QFile::encodeName(qEnvironmentVariable("APPDATA", QDir::homePath())).toStdString();
#else
    return QFile::encodeName(QDir::homePath()).toStdString();
#endif
}

std::string_view savesRelativePath() {
#if defined(Q_OS_MACOS)
    return "Application Support/minecraft/saves";
#else
    return ".minecraft/saves";
#endif
}

std::string savesFolderPath() {
    return (std::filesystem::path(getUserLib()) / savesRelativePath()).string();
}

std::string chooserStartFolder(FileSystem& files, const std::string& serverFolder) {
    if (!serverFolder.empty()) {
        // The nearest folder that still exists: a server folder that was moved or deleted leaves
        // the user next to where it was.
        for (std::filesystem::path folder(serverFolder);; folder = folder.parent_path()) {
            const auto resolved = files.canonicalPath(folder.string());
            const auto info = resolved ? files.itemInfo(*resolved) : std::nullopt;
            if (info && info->kind == ItemKind::Folder) {
                return folder.string();
            }
            if (folder == folder.parent_path() || folder.parent_path().empty()) {
                break;
            }
        }
    }
    return QFile::encodeName(QDir::homePath()).toStdString();
}

void savePrefs(Preferences& prefs, const std::string& path) {
    prefs.setString(serverPathConst(), path);
}

std::string getPrefs(Preferences& prefs) {
    return prefs.stringForKey(serverPathConst()).value_or(std::string());
}

void saveSavesPrefs(Preferences& prefs, const std::string& path) {
    prefs.setString(savesPathConst(), path);
}

std::string getSavesPrefs(Preferences& prefs, FileSystem& files) {
    // A folder that has gone (an unplugged disk, a deleted instance) is kept in the settings, so
    // that it is used again once it is back.
    const std::optional<std::string> remembered = prefs.stringForKey(savesPathConst());
    if (remembered && !remembered->empty() && isFolder(files, *remembered)) {
        return *remembered;
    }
    return savesFolderPath();
}

} // namespace Plovermantle
