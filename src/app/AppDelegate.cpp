#include "app/AppDelegate.h"

#include "app/WorldList.h"
#include "settings/Settings.h"
#include "worlds/ServerProperties.h"
#include "worlds/WorldCopy.h"

#include <QByteArray>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMainWindow>

namespace Plovermantle {

AppDelegate::AppDelegate(Platform platform, QObject* parent)
    : QObject(parent), platform_(platform) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    globalServerPath() = getPrefs(platform_.prefs);
    if (*globalServerPath() != "") {
        txtServerPath_->setText(QFile::decodeName(globalServerPath()->c_str()));
    }
    const std::string savesFolder = savesFolderPath();
    globalFullPath() = savesFolder;
    // The folder names show at once, with no world picked; the rest fills in from a worker.
    worlds_ = std::make_unique<WorldList>(*worldList_, platform_.files);
    worlds_->show(savesFolder);
}

void AppDelegate::refreshWorldList() {
    if (worlds_) {
        worlds_->refresh();
    }
}

void AppDelegate::applicationWillTerminate() {
    // Nothing to save: the server folder is stored the moment it is chosen.
}

void AppDelegate::quit() {
    QCoreApplication::quit();
}

void AppDelegate::setServerPath() {
    // The folder is taken as chosen: whether it really is a server folder shows when a world is
    // copied into it.
    const std::optional<std::string> chosen = platform_.dialogs.chooseFolder();
    if (!chosen || chosen->empty()) {
        return;
    }
    savePrefs(platform_.prefs, *chosen);
    txtServerPath_->setText(QFile::decodeName(chosen->c_str()));
    globalServerPath() = *chosen;
}

void AppDelegate::copy() {
    const WorldCopyInputs inputs{QFile::encodeName(txtServerPath_->text()).toStdString(),
                                 selectedWorld(), globalFullPath(), globalServerPath()};
    copyWorld(platform_, inputs,
              [this](const std::string& serverFolder) { replaceServerProps(serverFolder); });
}

std::optional<std::string> AppDelegate::selectedWorld() const {
    const int index = worldList_->currentIndex();
    if (index < 0) {
        return std::nullopt;
    }
    return worldList_->itemData(index, worldNameRole).toByteArray().toStdString();
}

void AppDelegate::replaceServerProps(const std::string& serverFolderPath) {
    const std::optional<std::string> world = selectedWorld();
    if (!world) {
        // Callers select a world first; without one there is nothing to name, and a blank name
        // would point the server at a new empty world.
        platform_.dialogs.runAlert(serverPropsWriteFailedAlert());
        return;
    }
    rewriteServerProps(platform_, serverFolderPath, *world);
}

} // namespace Plovermantle
