#pragma once

#include "platform/LocalServerFolder.h"
#include "platform/LocalWorldSource.h"
#include "platform/PosixFileSystem.h"
#include "platform/QtPreferences.h"
#include "support/FailingServerFolder.h"
#include "support/TestSupport.h"
#include "worlds/ServerProperties.h"
#include "worlds/WorldCopy.h"

#include <QFile>
#include <QTemporaryDir>

namespace Plovermantle::Testing {

namespace fs = std::filesystem;

// A saves folder holding "World", a server folder with its server.properties, and the app's side of
// a copy, into a folder that fails where a test says.
struct CopyScene {
    CopyScene() {
        buildTree(saves / "World", sampleWorld);
        buildTree(root, {"f:server/server.properties=level-name=old"});
    }

    CopyOutcome copy(const std::string& world = "World",
                     ExistingWorld existing = ExistingWorld::Ask) {
        const auto real = LocalServerFolder::open(server.string());
        const auto source = LocalWorldSource::open((saves / world).string());
        if (!real || !source) {
            // Told as the window and the command line tell it.
            return deployWorld(platform, server.string(), saves.string(), world, existing);
        }
        folder.real = real.get();
        return copyWorld(platform, folder, *source, world, existing);
    }
    // The server.properties step alone.
    bool rewrite(const std::string& world) {
        const auto real = LocalServerFolder::open(server.string());
        folder.real = real.get();
        return real && rewriteServerProps(dialogs, folder, world);
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
    FailingServerFolder folder;
    PosixFileSystem files;
    QtPreferences prefs{dir.filePath(QStringLiteral("prefs.ini"))};
    RecordingDialogs dialogs;
    Platform platform{files, prefs, dialogs};
};

} // namespace Plovermantle::Testing
