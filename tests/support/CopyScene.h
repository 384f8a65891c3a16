#pragma once

#include "platform/QtPreferences.h"
#include "support/FailingFileSystem.h"
#include "support/TestSupport.h"
#include "worlds/ServerProperties.h"
#include "worlds/WorldCopy.h"

#include <QFile>
#include <QTemporaryDir>

namespace Plovermantle::Testing {

namespace fs = std::filesystem;

// A saves folder holding "World", a server folder with its server.properties, and the app's side of
// a copy, on a disk that fails where a test says.
struct CopyScene {
    CopyScene() {
        buildTree(saves / "World", sampleWorld);
        buildTree(root, {"f:server/server.properties=level-name=old"});
    }

    // The field's text is not the folder in use: only the folder in use counts.
    void copy() { copy({"shown", "World", saves.string(), server.string()}); }
    void copy(const WorldCopyInputs& given) {
        copyWorld(platform, given, [&](const std::string& folder) {
            rewriteServerProps(platform, folder, *given.selectedWorld);
        });
    }

    fs::path props() const { return server / "server.properties"; }
    fs::path backup() const { return server / "server.properties.backup"; }

    // Replace moves old worlds to a Trash of the scene's own, outside what the tests compare.
    QTemporaryDir trashHome;
    bool homed = qputenv("HOME", QFile::encodeName(trashHome.path())) &&
                 qputenv("XDG_DATA_HOME", QFile::encodeName(trashHome.filePath(".local/share")));
    fs::path trash = trashHome.filePath(QStringLiteral(".local/share/Trash")).toStdString();
    QTemporaryDir dir;
    fs::path root = dir.path().toStdString();
    fs::path saves = root / "saves";
    fs::path server = root / "server";
    FailingFileSystem files;
    QtPreferences prefs{dir.filePath(QStringLiteral("prefs.ini"))};
    RecordingDialogs dialogs;
    Platform platform{files, prefs, dialogs};
};

} // namespace Plovermantle::Testing
