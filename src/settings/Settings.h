#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Plovermantle {

class FileSystem;
class Preferences;

// The key under which the server folder is remembered between runs.
const std::string& serverPathConst();

// The key under which the saves folder the user chose is remembered between runs.
const std::string& savesPathConst();

// The saves folder in use: set at launch, replaced whenever the user chooses another.
std::optional<std::string>& globalFullPath();
// The server folder in use: remembered at launch, replaced whenever the user chooses another.
std::optional<std::string>& globalServerPath();

// The folder of the current user's under which the game keeps its data.
std::string getUserLib();
// Where the game keeps its saved worlds, relative to getUserLib().
std::string_view savesRelativePath();
// getUserLib() with savesRelativePath() appended.
std::string savesFolderPath();

// Where the folder chooser opens: the server folder in use, or the nearest folder above it that
// still exists, or the home folder when none is set.
std::string chooserStartFolder(FileSystem& files, const std::string& serverFolder);

// Remembers `path` as the server folder for later runs.
void savePrefs(Preferences& prefs, const std::string& path);
// The remembered server folder, or the empty string when none is remembered.
std::string getPrefs(Preferences& prefs);

// Remembers `path` as the saves folder for later runs.
void saveSavesPrefs(Preferences& prefs, const std::string& path);
// The saves folder to start with: the remembered one while it is still a folder, else the
// platform's default, savesFolderPath().
std::string getSavesPrefs(Preferences& prefs, FileSystem& files);

} // namespace Plovermantle
