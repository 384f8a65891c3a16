#include "settings/Settings.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Preferences.h"
#include "platform/QtPreferences.h"
#include "settings/SavesFolders.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtGlobal>
#include <algorithm>

namespace Plovermantle {

Settings::Settings(Preferences& prefs, FileSystem& files) : prefs_(prefs), files_(files) {}

std::string Settings::value(std::string_view key) const {
    return prefs_.stringForKey(std::string(key)).value_or(std::string());
}

void Settings::setValue(std::string_view key, const std::string& value) {
    prefs_.setString(std::string(key), value);
}

std::string Settings::serverFolder() const {
    return value(serverFolderKey);
}

void Settings::setServerFolder(const std::string& path) {
    setValue(serverFolderKey, path);
    // The latest first, then the others as they were; built afresh rather than inserted at the
    // front, which GCC 12 at -O3 misreads as a null dereference.
    QJsonArray list{QFile::decodeName(path.c_str())};
    for (const std::string& folder : recentServerFolders()) {
        if (folder != path && static_cast<std::size_t>(list.size()) < maxRecentServerFolders) {
            list.append(QFile::decodeName(folder.c_str()));
        }
    }
    setValue(recentServerFoldersKey,
             QJsonDocument(list).toJson(QJsonDocument::Compact).toStdString());
}

std::vector<std::string> Settings::recentServerFolders() const {
    std::vector<std::string> recent;
    // Written by us, but read back as anything a hand-edited file may hold.
    const QJsonDocument stored =
        QJsonDocument::fromJson(QByteArray::fromStdString(value(recentServerFoldersKey)));
    for (const QJsonValue& folder : stored.array()) {
        const std::string path = QFile::encodeName(folder.toString()).toStdString();
        if (!path.empty() && recent.size() < maxRecentServerFolders &&
            std::ranges::find(recent, path) == recent.end()) {
            recent.push_back(path);
        }
    }
    return recent;
}

std::string Settings::savesFolder() const {
    const std::string remembered = value(savesFolderKey);
    return !remembered.empty() && isFolder(files_, remembered) ? remembered : defaultSavesFolder();
}

void Settings::setSavesFolder(const std::string& path) {
    setValue(savesFolderKey, path);
}

QByteArray Settings::windowGeometry() const {
    return QByteArray::fromBase64(QByteArray::fromStdString(value(windowGeometryKey)));
}

void Settings::setWindowGeometry(const QByteArray& geometry) {
    setValue(windowGeometryKey, geometry.toBase64().toStdString());
}

std::string Settings::chosenWorld() const {
    return value(chosenWorldKey);
}

void Settings::setChosenWorld(const std::string& folder) {
    setValue(chosenWorldKey, folder);
}

struct TemporarySettings::Store {
    QTemporaryDir dir;
    QtPreferences prefs{dir.filePath(QStringLiteral("settings.ini"))};
};

TemporarySettings::TemporarySettings(FileSystem& files)
    : store_(std::make_unique<Store>()),
      settings_(std::make_unique<Settings>(store_->prefs, files)) {}

TemporarySettings::~TemporarySettings() = default;

Preferences& TemporarySettings::prefs() {
    return store_->prefs;
}

std::string userLibraryFolder() {
#if defined(Q_OS_MACOS)
    return QFile::encodeName(QDir::homePath() + QStringLiteral("/Library")).toStdString();
#elif defined(Q_OS_WIN)
    return QFile::encodeName(qEnvironmentVariable("APPDATA", QDir::homePath())).toStdString();
#else
    return QFile::encodeName(QDir::homePath()).toStdString();
#endif
}

std::string defaultSavesFolder() {
#if defined(Q_OS_MACOS)
    return joinPath(userLibraryFolder(), "Application Support/minecraft/saves");
#else
    return joinPath(userLibraryFolder(), ".minecraft/saves");
#endif
}

std::string chooserStartFolder(FileSystem& files, const std::string& folder) {
    // The nearest folder that still exists: a server folder that was moved or deleted leaves the
    // user next to where it was.
    for (std::string at = folder; !at.empty();) {
        const auto resolved = files.canonicalPath(at);
        const auto info = resolved ? files.itemInfo(*resolved) : std::nullopt;
        if (info && info->kind == ItemKind::Folder) {
            return at;
        }
        const auto slash = at.find_last_of('/');
        if (slash == std::string::npos || at == "/") {
            break;
        }
        at = slash == 0 ? std::string("/") : at.substr(0, slash);
    }
    return QFile::encodeName(QDir::homePath()).toStdString();
}

} // namespace Plovermantle
