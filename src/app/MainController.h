#pragma once

#include "platform/Platform.h"
#include "settings/Settings.h"
#include "worlds/Archive.h"

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>
#include <string>

class QMainWindow;
class QEvent;

namespace Ui {
class MainWindow;
}

namespace Plovermantle {

class ServerStatusWatch;
struct ServerStatus;
class WorldList;

// Carries the window's actions and keeps its controls current; the window and its form belong to
// whoever attaches them.
class MainController : public QObject {
    Q_OBJECT

public:
    explicit MainController(Platform platform, QObject* parent = nullptr);
    ~MainController() override;

    // Connects the window's controls and actions, and gives the window its remembered size.
    void attach(QMainWindow& window, Ui::MainWindow& ui);

    // What the app remembers between runs.
    Settings& settings() { return settings_; }
    // The saves folder whose worlds are listed.
    const std::string& savesFolder() const { return savesFolder_; }
    // What fills the world list and keeps it current; nothing before start().
    WorldList* worlds() const { return worlds_.get(); }
    // What the server in the server folder runs.
    ServerStatusWatch& serverStatus() { return *serverStatus_; }

    // The world chosen in the list, exactly as named on disk; nothing when none is.
    std::optional<std::string> selectedWorld() const;

    // Makes `path` the saves folder: remembered, in use for the next copy, and listed.
    void useSavesFolder(const std::string& path);
    // Lists the worlds in the archive at `path`, read off the window's thread; the next copy
    // takes its world from there. A refused archive is told, and the list stays as it was.
    void useArchive(const std::string& path);
    // The archive whose worlds are listed; empty while a saves folder's are.
    const std::string& archive() const { return archivePath_; }

public slots:
    // Lists the worlds and reads the server folder's status, once the window is up.
    void start();
    void quit();
    void chooseServerFolder();
    // Lets the user pick a folder on another computer, over SSH.
    void chooseRemoteServerFolder();
    // Deploys the chosen world into the server folder and points the server at it.
    void copy();
    // Reads the saves folder again; the world the user chose stays chosen while it is there.
    void refreshWorldList();
    // Fills the Saves Folder submenu with the saves folders found now, the one in use checked.
    void listSavesFolders();
    // Lets the user pick any folder as the saves folder.
    void chooseSavesFolder();
    // Lets the user pick an archive to take the worlds from.
    void openArchive();
    // Shows the server folder in the file manager.
    void openServerFolder();
    // Puts the keyboard in the search field, its text selected.
    void findWorld();
    // Remembers the window's size and the chosen world for the next run.
    void saveWindowState();

private:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showServerFolder();
    // Fills the Choose… menu: this computer, another computer, and the folders used before.
    void listServerFolderChoices();
    void showServerStatus(const ServerStatus& status);
    void describeSource();
    void showWorldsOrWhyNone();

    Platform platform_;
    Settings settings_;
    std::string savesFolder_;
    std::string archivePath_;
    std::vector<ArchiveWorld> archiveWorlds_;
    QPointer<QMainWindow> window_;
    Ui::MainWindow* ui_ = nullptr;
    // Owns the submenu's items of the last listing; deleting it takes them out of the menu.
    QPointer<QObject> savesFolderItems_;
    std::unique_ptr<WorldList> worlds_;
    std::unique_ptr<ServerStatusWatch> serverStatus_;
    // Asks what a login needs; made with the window, as its dialogs belong to it.
    std::unique_ptr<RemoteHostPrompts> remotePrompts_;
    QPointer<QMenu> serverFolderMenu_;
};

} // namespace Plovermantle
