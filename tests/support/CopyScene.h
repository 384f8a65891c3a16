#pragma once

#include "platform/QtPreferences.h"
#include "support/FailingFileSystem.h"
#include "support/TestSupport.h"
#include "support/TreeSnapshot.h"
#include "worlds/ServerProperties.h"
#include "worlds/WorldCopy.h"

#include <QFile>
#include <QTemporaryDir>

namespace Plovermantle::Testing {

// A world with some of everything a copy must keep: nested and empty folders, hidden files,
// permission bits (a read-only folder among them), links of every sort, which are never followed,
// and a pipe that must not make the copy wait.
inline const std::vector<std::string> sampleWorld{"f:level.dat=level",
                                                  "f:.hidden=h",
                                                  "f:region/r.0.0.mca=region",
                                                  "f:region/r.0.1.mca=mine",
                                                  "m:region/r.0.1.mca=0640",
                                                  "f:run.sh=#!",
                                                  "m:run.sh=0755",
                                                  "f:DIM-1/region/r.mca=n",
                                                  "m:DIM-1/region=0555",
                                                  "d:empty",
                                                  "l:data/latest>../level.dat",
                                                  "l:data/abs>/etc/hostname",
                                                  "l:data/dangling>nowhere",
                                                  "l:data/outside>../../..",
                                                  "l:data/loop>loop",
                                                  "p:data/pipe"};

// A saves folder holding "World", a server folder with its server.properties, and the app's side of
// a copy, on a disk that fails where a test says.
struct CopyScene {
    CopyScene() {
        buildTree(saves / "World", sampleWorld);
        buildTree(root, {"f:server/server.properties=level-name=old"});
    }
    ~CopyScene() {
        makeRemovable(root);
        makeRemovable(trashHome.path().toStdString());
    }
    CopyScene(const CopyScene&) = delete;
    CopyScene& operator=(const CopyScene&) = delete;

    // The field's text is not the folder in use: only the folder in use counts.
    void copy() { copy({"shown", "World", saves.string(), server.string()}); }
    void copy(const WorldCopyInputs& given) {
        copyWorld(platform, given, [&](const std::string& folder) {
            rewriteServerProps(platform, folder, *given.selectedWorld);
        });
    }

    // Replace moves old worlds to a Trash of the scene's own, outside what the tests compare.
    QTemporaryDir trashHome;
    bool homed = qputenv("HOME", QFile::encodeName(trashHome.path())) &&
                 qputenv("XDG_DATA_HOME", QFile::encodeName(trashHome.filePath(".local/share")));
    std::filesystem::path trash =
        trashHome.filePath(QStringLiteral(".local/share/Trash")).toStdString();
    QTemporaryDir dir;
    std::filesystem::path root = dir.path().toStdString();
    std::filesystem::path saves = root / "saves";
    std::filesystem::path server = root / "server";
    FailingFileSystem files;
    QtPreferences prefs{dir.filePath(QStringLiteral("prefs.ini"))};
    RecordingDialogs dialogs;
    Platform platform{files, prefs, dialogs};
};

} // namespace Plovermantle::Testing
