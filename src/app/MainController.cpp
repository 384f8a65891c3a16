#include "app/MainController.h"

#include "app/WorldList.h"
#include "settings/SavesFolders.h"
#include "worlds/Messages.h"
#include "worlds/ServerProperties.h"
#include "worlds/WorldCopy.h"

#include <QActionGroup>
#include <QByteArray>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMainWindow>
#include <algorithm>

namespace Plovermantle {

MainController::MainController(Platform platform, QObject* parent)
    : QObject(parent), platform_(platform), settings_(platform.prefs, platform.files) {}

MainController::~MainController() = default;

void MainController::start() {
    serverFolderEdit_->setText(QFile::decodeName(settings_.serverFolder().c_str()));
    savesFolder_ = settings_.savesFolder();
    // The folder names show at once, with no world picked; the rest fills in from a worker.
    worlds_ = std::make_unique<WorldList>(*worldList_, platform_.files);
    worlds_->show(savesFolder_);
}

void MainController::refreshWorldList() {
    if (worlds_) {
        worlds_->refresh();
    }
}

void MainController::useSavesFolder(const std::string& path) {
    settings_.setSavesFolder(path);
    if (savesFolder_ != path) {
        // Another folder's world of the same name is another world.
        worldList_->setCurrentIndex(-1);
        savesFolder_ = path;
    }
    if (worlds_) {
        worlds_->show(path);
    }
}

void MainController::chooseSavesFolder() {
    const std::optional<std::string> chosen =
        platform_.dialogs.chooseFolder(chooserStartFolder(platform_.files, savesFolder_));
    if (chosen && !chosen->empty()) {
        useSavesFolder(*chosen);
    }
}

namespace {

QString launcherLabel(const FoundSavesFolder& folder) {
    const QString instance = QString::fromUtf8(folder.instanceName);
    switch (folder.launcher) {
    case Launcher::Game:
        return MainController::tr("Game launcher");
    case Launcher::GameFlatpak:
        return MainController::tr("Game launcher (Flatpak)");
    case Launcher::Prism:
        return MainController::tr("Prism Launcher: %1").arg(instance);
    case Launcher::PrismFlatpak:
        return MainController::tr("Prism Launcher (Flatpak): %1").arg(instance);
    }
    return instance;
}

} // namespace

void MainController::listSavesFolders() {
    delete savesFolderItems_;
    savesFolderItems_ = new QObject(this);
    auto* group = new QActionGroup(savesFolderItems_);
    const std::string& inUse = savesFolder_;
    const std::optional<std::string> inUseResolved = platform_.files.canonicalPath(inUse);
    std::vector<FoundSavesFolder> folders = findSavesFolders(platform_.files, launcherPlaces());
    const auto isInUse = [&](const std::string& path) {
        return path == inUse ||
               (inUseResolved && platform_.files.canonicalPath(path) == inUseResolved);
    };
    const bool inUseFound = std::any_of(folders.begin(), folders.end(),
                                        [&](const auto& folder) { return isInUse(folder.path); });
    QList<QAction*> items;
    const auto addItem = [&](QString label, const std::string& path) {
        const QString shownPath = QDir::toNativeSeparators(QFile::decodeName(path.c_str()));
        // A '&' in a name is text, not a keyboard shortcut.
        auto* item = new QAction(label.replace(QLatin1Char('&'), QStringLiteral("&&")), group);
        item->setCheckable(true);
        item->setChecked(isInUse(path));
        item->setToolTip(shownPath);
        connect(item, &QAction::triggered, this, [this, path] { useSavesFolder(path); });
        items << item;
    };
    for (const FoundSavesFolder& folder : folders) {
        addItem(launcherLabel(folder), folder.path);
    }
    // A folder chosen by hand is not among the usual places, but is still the one in use.
    if (!inUseFound && !inUse.empty() && isFolder(platform_.files, inUse)) {
        addItem(QDir::toNativeSeparators(QFile::decodeName(inUse.c_str())), inUse);
    }
    auto* separator = new QAction(savesFolderItems_);
    separator->setSeparator(true);
    items << separator;
    savesFolderMenu_->insertActions(savesFolderMenu_->actions().value(0), items);
}

void MainController::quit() {
    QCoreApplication::quit();
}

void MainController::chooseServerFolder() {
    // The folder is taken as chosen: whether it really is a server folder shows when a world is
    // copied into it.
    const std::optional<std::string> chosen = platform_.dialogs.chooseFolder(
        chooserStartFolder(platform_.files, settings_.serverFolder()));
    if (!chosen || chosen->empty()) {
        return;
    }
    settings_.setServerFolder(*chosen);
    serverFolderEdit_->setText(QFile::decodeName(chosen->c_str()));
}

void MainController::copy() {
    const std::string chosenServerFolder = settings_.serverFolder();
    const WorldCopyInputs inputs{chosenServerFolder, selectedWorld(), savesFolder_,
                                 chosenServerFolder};
    copyWorld(platform_, inputs,
              [this](const std::string& serverFolder) { replaceServerProps(serverFolder); });
}

std::optional<std::string> MainController::selectedWorld() const {
    const int index = worldList_->currentIndex();
    if (index < 0) {
        return std::nullopt;
    }
    return worldList_->itemData(index, worldNameRole).toByteArray().toStdString();
}

void MainController::replaceServerProps(const std::string& serverFolderPath) {
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
