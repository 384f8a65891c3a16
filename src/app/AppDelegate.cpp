#include "app/AppDelegate.h"

#include "settings/Settings.h"
#include "worlds/Messages.h"
#include "worlds/ServerProperties.h"
#include "worlds/WorldCopy.h"
#include "worlds/WorldDiscovery.h"

#include <QByteArray>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMainWindow>

namespace Plovermantle {

namespace {
// A world's exact on-disk name rides along with its displayed text: file names are bytes, and the
// text shown may not round-trip to them.
constexpr int worldNameRole = Qt::UserRole;
} // namespace

AppDelegate::AppDelegate(Platform platform, QObject* parent)
    : QObject(parent), platform_(platform) {}

void AppDelegate::applicationDidFinishLaunching() {
    globalServerPath() = getPrefs(platform_.prefs);
    if (*globalServerPath() != "") {
        txtServerPath_->setText(QFile::decodeName(globalServerPath()->c_str()));
    }
    const std::string savesFolder = savesFolderPath();
    globalFullPath() = savesFolder;
    for (const std::string& name : listWorlds(platform_.files, savesFolder)) {
        appendWorld(name);
    }
    // Filling a combo box selects its first item; the user must pick a world themselves.
    worldList_->setCurrentIndex(-1);
    describeWorldList(savesFolder);
}

void AppDelegate::describeWorldList(const std::string& savesFolder) {
    // Where the worlds were looked for is the first thing to check when one is missing.
    worldList_->setToolTip(
        tr("Worlds in the game's saves folder:\n%1")
            .arg(QDir::toNativeSeparators(QFile::decodeName(savesFolder.c_str()))));
    if (worldList_->count() == 0) {
        worldList_->setPlaceholderText(tr("No worlds found"));
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
    const std::optional<std::string> chosen = platform_.dialogs.chooseFolder(
        chooserStartFolder(platform_.files, globalServerPath().value_or(std::string())));
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

void AppDelegate::appendWorld(const std::string& name) {
    worldList_->addItem(QFile::decodeName(name.c_str()),
                        QByteArray(name.data(), static_cast<qsizetype>(name.size())));
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
        platform_.dialogs.runAlert(Messages::propsWriteFailed);
        return;
    }
    rewriteServerProps(platform_, serverFolderPath, *world);
}

} // namespace Plovermantle
