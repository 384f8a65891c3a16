#pragma once

#include <QByteArray>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Plovermantle {

class FileSystem;
class Preferences;

// What the app remembers between runs, kept in the injected Preferences: the one place the server
// folder, the saves folder and the window's state live. The keys of the folders are the ones early
// versions wrote, so that existing users keep their settings.
class Settings {
public:
    static constexpr std::string_view serverFolderKey = "serverPathKey";
    static constexpr std::string_view savesFolderKey = "savesPathKey";
    static constexpr std::string_view windowGeometryKey = "windowGeometry";
    static constexpr std::string_view chosenWorldKey = "chosenWorld";
    static constexpr std::string_view recentServerFoldersKey = "recentServerFolders";
    static constexpr std::size_t maxRecentServerFolders = 10;

    Settings(Preferences& prefs, FileSystem& files);

    // The server folder the user chose last; empty when none was.
    std::string serverFolder() const;
    // Remembers `path` as the server folder, and at the head of the recent ones.
    void setServerFolder(const std::string& path);

    // The saves folder to list: the remembered one while it is still a folder, else the game's
    // default, defaultSavesFolder(). One that has gone (an unplugged disk, a deleted instance)
    // stays remembered, so that it is used again once it is back.
    std::string savesFolder() const;
    void setSavesFolder(const std::string& path);

    // As QWidget::saveGeometry gives it; empty when none is remembered.
    QByteArray windowGeometry() const;
    void setWindowGeometry(const QByteArray& geometry);

    // The folder name of the world chosen last; empty when none was.
    std::string chosenWorld() const;
    void setChosenWorld(const std::string& folder);

    // The server folders chosen before, the latest first, without repeats.
    std::vector<std::string> recentServerFolders() const;

private:
    std::string value(std::string_view key) const;
    void setValue(std::string_view key, const std::string& value);

    Preferences& prefs_;
    FileSystem& files_;
};

// Settings in a file of their own in a temporary folder, removed with the object: a run that
// leaves the user's real settings alone.
class TemporarySettings {
public:
    explicit TemporarySettings(FileSystem& files);
    ~TemporarySettings();
    TemporarySettings(const TemporarySettings&) = delete;
    TemporarySettings& operator=(const TemporarySettings&) = delete;

    Settings& settings() { return *settings_; }
    Preferences& prefs();

private:
    struct Store;
    std::unique_ptr<Store> store_;
    std::unique_ptr<Settings> settings_;
};

// The folder of the current user's under which the game keeps its data.
std::string userLibraryFolder();
// Where the game keeps its saved worlds: the game's own saves folder in userLibraryFolder().
std::string defaultSavesFolder();

// Where the folder chooser opens: `folder`, or the nearest folder above it that still exists, or
// the home folder when `folder` is empty.
std::string chooserStartFolder(FileSystem& files, const std::string& folder);

} // namespace Plovermantle
