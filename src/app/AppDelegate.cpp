#include "app/AppDelegate.h"

#include "app/WorldList.h"
#include "platform/Paths.h"
#include "settings/SavesFolders.h"
#include "settings/Settings.h"
#include "worlds/Messages.h"
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

AppDelegate::AppDelegate(Platform platform, QObject* parent)
    : QObject(parent), platform_(platform) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    globalServerPath() = getPrefs(platform_.prefs);
    if (*globalServerPath() != "") {
        txtServerPath_->setText(QFile::decodeName(globalServerPath()->c_str()));
    }
    globalFullPath() = getSavesPrefs(platform_.prefs, platform_.files);
    // The folder names show at once, with no world picked; the rest fills in from a worker.
    worlds_ = std::make_unique<WorldList>(*worldList_, platform_.files);
    worlds_->show(*globalFullPath());
}

void AppDelegate::refreshWorldList() {
    if (worlds_) {
        worlds_->refresh();
    }
}

void AppDelegate::useSavesFolder(const std::string& path) {
    saveSavesPrefs(platform_.prefs, path);
    if (globalFullPath() != path) {
        // Another folder's world of the same name is another world.
        worldList_->setCurrentIndex(-1);
        globalFullPath() = path;
    }
    if (worlds_) {
        worlds_->show(path);
    }
}

void AppDelegate::chooseSavesFolder() {
    const std::optional<std::string> chosen = platform_.dialogs.chooseFolder(
        chooserStartFolder(platform_.files, globalFullPath().value_or(std::string())));
    if (chosen && !chosen->empty()) {
        useSavesFolder(*chosen);
    }
}

namespace {

QString launcherLabel(const FoundSavesFolder& folder) {
    const QString instance = QString::fromUtf8(folder.instanceName);
    switch (folder.launcher) {
    case Launcher::Game:
        return AppDelegate::tr("Game launcher");
    case Launcher::GameFlatpak:
        return AppDelegate::tr("Game launcher (Flatpak)");
    case Launcher::Prism:
        return AppDelegate::tr("Prism Launcher: %1").arg(instance);
    case Launcher::PrismFlatpak:
        return AppDelegate::tr("Prism Launcher (Flatpak): %1").arg(instance);
    }
    return instance;
}

} // namespace

void AppDelegate::listSavesFolders() {
    delete savesFolderItems_;
    savesFolderItems_ = new QObject(this);
    auto* group = new QActionGroup(savesFolderItems_);
    const std::string inUse = globalFullPath().value_or(std::string());
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
    const std::optional<std::string> world = selectedWorld();
    const std::optional<std::string> saves = globalFullPath();
    const std::optional<std::string> server = globalServerPath();
    // The field can show a folder while none is in use; never guess at one.
    if (txtServerPath_->text().isEmpty() || !world || !saves || saves->empty() || !server ||
        server->empty()) {
        platform_.dialogs.runAlert(Messages::comeOn);
        return;
    }
    deployWorld(platform_, *server, *saves, *world);
}

std::optional<std::string> AppDelegate::selectedWorld() const {
    const int index = worldList_->currentIndex();
    if (index < 0) {
        return std::nullopt;
    }
    return worldList_->itemData(index, worldNameRole).toByteArray().toStdString();
}

} // namespace Plovermantle
