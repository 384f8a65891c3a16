#pragma once

#include "platform/Platform.h"
#include "settings/Settings.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>
#include <string>

namespace Plovermantle {

class WorldList;

// Owns nothing of the window: it holds non-owning references to the controls it reads and fills,
// runs the launch sequence and carries the window's actions.
class MainController : public QObject {
    Q_OBJECT

public:
    explicit MainController(Platform platform, QObject* parent = nullptr);
    ~MainController() override;

    QMainWindow* window() const { return window_; }
    void setWindow(QMainWindow* window) { window_ = window; }
    QComboBox* worldList() const { return worldList_; }
    void setWorldList(QComboBox* worldList) { worldList_ = worldList; }
    QLineEdit* serverFolderEdit() const { return serverFolderEdit_; }
    void setServerFolderEdit(QLineEdit* serverFolderEdit) { serverFolderEdit_ = serverFolderEdit; }
    // The File menu's Saves Folder submenu; its own actions (Other Folder…) stay at its end.
    QMenu* savesFolderMenu() const { return savesFolderMenu_; }
    void setSavesFolderMenu(QMenu* menu) { savesFolderMenu_ = menu; }

    // What the app remembers between runs.
    Settings& settings() { return settings_; }
    // The saves folder whose worlds are listed.
    const std::string& savesFolder() const { return savesFolder_; }

    // What fills worldList and keeps it current; nothing before launch.
    WorldList* worlds() const { return worlds_.get(); }

    // The world the user picked in worldList, exactly as named on disk; nothing when none is.
    std::optional<std::string> selectedWorld() const;

    // Points the server in `serverFolderPath` at the world selected in worldList: backs up its
    // server.properties and rewrites the file's level-name lines, telling any failure in an alert.
    void replaceServerProps(const std::string& serverFolderPath);

    // Makes `path` the saves folder: remembered, in use for the next copy, and listed.
    void useSavesFolder(const std::string& path);

public slots:
    void quit();
    void chooseServerFolder();
    // Deploys the selected world into the server folder and points the server at it.
    void copy();
    // Reads the saves folder again; the world the user picked stays picked while it is there.
    void refreshWorldList();
    void start();
    // Fills the Saves Folder submenu with the saves folders found now, the one in use checked.
    void listSavesFolders();
    // Lets the user pick any folder as the saves folder.
    void chooseSavesFolder();

private:
    Platform platform_;
    Settings settings_;
    std::string savesFolder_;
    QPointer<QMainWindow> window_;
    QPointer<QComboBox> worldList_;
    QPointer<QLineEdit> serverFolderEdit_;
    QPointer<QMenu> savesFolderMenu_;
    // Owns the submenu's items of the last listing; deleting it takes them out of the menu.
    QPointer<QObject> savesFolderItems_;
    std::unique_ptr<WorldList> worlds_;
};

} // namespace Plovermantle
