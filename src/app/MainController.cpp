#include "app/MainController.h"

#include "app/QtRemoteHostPrompts.h"
#include "app/RemoteFolderDialog.h"
#include "app/ServerStatus.h"
#include "app/WorldList.h"
#include "platform/ssh/SshDestination.h"
#include "settings/SavesFolders.h"
#include "ui_MainWindow.h"
#include "worlds/Messages.h"
#include "worlds/WorldCopy.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMimeData>
#include <QScopeGuard>
#include <QScreen>
#include <QStatusBar>
#include <QUrl>
#include <algorithm>

namespace Plovermantle {

namespace {

QString shownPath(const std::string& path) {
    return QDir::toNativeSeparators(QFile::decodeName(path.c_str()));
}

// Keeps a name from another script from reordering the text around it.
QString isolated(const QString& text) {
    return QChar(0x2068) + text + QChar(0x2069);
}

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

// A '&' in a name is text, not a keyboard shortcut.
QString menuText(QString text) {
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// What File ▸ Open Archive… offers.
constexpr const char* archivePatterns = "*.zip *.tar *.tar.gz *.tgz *.tar.xz *.tar.zst *.7z";

// The one archive of this computer a drag carries; nothing for anything else.
std::optional<std::string> draggedArchive(const QMimeData* data) {
    if (data == nullptr || data->urls().size() != 1 || !data->urls().front().isLocalFile()) {
        return std::nullopt;
    }
    const std::string path = QFile::encodeName(data->urls().front().toLocalFile()).toStdString();
    return isArchiveName(path) ? std::optional(path) : std::nullopt;
}

} // namespace

MainController::MainController(Platform platform, QObject* parent)
    : QObject(parent), platform_(platform), settings_(platform.prefs, platform.files),
      serverStatus_(std::make_unique<ServerStatusWatch>(platform.files)) {
    connect(serverStatus_.get(), &ServerStatusWatch::changed, this,
            &MainController::showServerStatus);
}

MainController::~MainController() = default;

void MainController::attach(QMainWindow& window, Ui::MainWindow& ui) {
    window_ = &window;
    ui_ = &ui;
    connect(ui.quitButton, &QPushButton::clicked, this, &MainController::quit);
    connect(ui.actionQuit, &QAction::triggered, this, &MainController::quit);
    connect(ui.copyButton, &QPushButton::clicked, this, &MainController::copy);
    connect(ui.actionCopy, &QAction::triggered, this, &MainController::copy);
    // Not `activated`, which some desktops send on a single click.
    connect(ui.worldList, &QListView::doubleClicked, this, &MainController::copy);
    ui.worldList->installEventFilter(this);
    // Choose… offers this computer, another computer and the folders used before.
    serverFolderMenu_ = new QMenu(ui.chooseServerButton);
    connect(serverFolderMenu_, &QMenu::aboutToShow, this, &MainController::listServerFolderChoices);
    ui.chooseServerButton->setMenu(serverFolderMenu_);
    remotePrompts_ = std::make_unique<QtRemoteHostPrompts>(&window);
    platform_.remotePrompts = remotePrompts_.get();
    connect(ui.actionChooseServer, &QAction::triggered, this, &MainController::chooseServerFolder);
    connect(ui.actionOpenServerFolder, &QAction::triggered, this,
            &MainController::openServerFolder);
    // Looked for each time the menu opens: launchers and instances come and go while we run.
    connect(ui.menuSavesFolder, &QMenu::aboutToShow, this, &MainController::listSavesFolders);
    connect(ui.actionOtherSavesFolder, &QAction::triggered, this,
            &MainController::chooseSavesFolder);
    connect(ui.actionOpenArchive, &QAction::triggered, this, &MainController::openArchive);
    connect(ui.actionRefresh, &QAction::triggered, this, &MainController::refreshWorldList);
    ui.actionFind->setShortcuts(QKeySequence::keyBindings(QKeySequence::Find));
    connect(ui.actionFind, &QAction::triggered, this, &MainController::findWorld);
    ui.menuView->insertAction(ui.actionRefresh, ui.actionFind);
    ui.savesSourceButton->setMenu(ui.menuSavesFolder);
    ui.chooseSavesButton->setMenu(ui.menuSavesFolder);
    ui.searchEdit->installEventFilter(this);
    window.installEventFilter(this);
    window.setAcceptDrops(true);

    if (!window.restoreGeometry(settings_.windowGeometry())) {
        // Room for about eight worlds, on any screen it fits.
        const QRect screen = window.screen()->availableGeometry();
        window.resize(std::min(760, screen.width() * 9 / 10),
                      std::min(720, screen.height() * 9 / 10));
    }
    showServerFolder();
}

void MainController::start() {
    savesFolder_ = settings_.savesFolder();
    // The folder names show at once; the rest fills in from a worker.
    worlds_ = std::make_unique<WorldList>(*ui_->worldList, platform_.files);
    connect(worlds_.get(), &WorldList::listChanged, this, &MainController::showWorldsOrWhyNone);
    connect(worlds_.get(), &WorldList::watchLimitReached, this, [this] {
        window_->statusBar()->showMessage(
            tr("Changes to the worlds are no longer followed: press F5 to read them again."));
    });
    connect(ui_->searchEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
        worlds_->filter().setSearch(text);
        showWorldsOrWhyNone();
    });
    worlds_->show(savesFolder_);
    worlds_->select(settings_.chosenWorld());
    showServerStatus(serverStatus_->status());
    describeSource();
}

void MainController::refreshWorldList() {
    if (!archivePath_.empty()) {
        useArchive(archivePath_);
    } else if (worlds_) {
        worlds_->refresh();
    }
}

void MainController::useSavesFolder(const std::string& path) {
    archivePath_.clear();
    archiveWorlds_.clear();
    settings_.setSavesFolder(path);
    savesFolder_ = path;
    if (worlds_) {
        worlds_->show(path); // another folder's world of the same name is another world
    }
    describeSource();
}

void MainController::chooseSavesFolder() {
    const std::optional<std::string> chosen =
        platform_.dialogs.chooseFolder(chooserStartFolder(platform_.files, savesFolder_));
    if (chosen && !chosen->empty()) {
        useSavesFolder(*chosen);
    }
}

void MainController::openArchive() {
    const std::string start =
        archivePath_.empty()
            ? QDir::homePath().toStdString()
            : QFileInfo(QFile::decodeName(archivePath_.c_str())).path().toStdString();
    if (const auto chosen = platform_.dialogs.chooseFile(start, archivePatterns)) {
        useArchive(*chosen);
    }
}

void MainController::useArchive(const std::string& path) {
    // A large archive is read through whole: with the progress shown, off the window's thread.
    std::optional<std::vector<ArchiveWorld>> found;
    FileFailure failure;
    platform_.dialogs.runWithProgress(
        QCoreApplication::translate("MainController", "Reading the archive…").toStdString(),
        [&](const WorkProgressReport&) {
            found = findArchiveWorlds({.path = path, .bytes = {}, .name = path}, {}, failure);
        });
    if (!found) {
        platform_.dialogs.runAlert(archiveRefusal(failure).value_or(
            Messages::withDetails(Messages::error("Unable to read the archive."), failure)));
        return;
    }
    archivePath_ = path;
    archiveWorlds_ = std::move(*found);
    if (worlds_) {
        worlds_->showArchive(path, archiveWorlds_);
    }
    describeSource();
}

void MainController::describeSource() {
    if (!archivePath_.empty()) {
        const QString archive = shownPath(archivePath_);
        ui_->savesSourceButton->setText(menuText(QFileInfo(archive).fileName()));
        ui_->savesSourceButton->setToolTip(
            tr("Worlds in %1\nClick to choose a saves folder.").arg(isolated(archive)));
        return;
    }
    const std::optional<std::string> inUse = platform_.files.canonicalPath(savesFolder_);
    QString label = shownPath(savesFolder_);
    for (const FoundSavesFolder& folder : findSavesFolders(platform_.files, launcherPlaces())) {
        if (folder.path == savesFolder_ ||
            (inUse && platform_.files.canonicalPath(folder.path) == inUse)) {
            label = launcherLabel(folder);
            break;
        }
    }
    ui_->savesSourceButton->setText(menuText(label));
    ui_->savesSourceButton->setToolTip(tr("Worlds in %1\nClick to choose another saves folder.")
                                           .arg(isolated(shownPath(savesFolder_))));
}

void MainController::showWorldsOrWhyNone() {
    if (!worlds_) {
        return;
    }
    const bool none = worlds_->count() == 0;
    if (!none && worlds_->shownCount() > 0) {
        ui_->worldPages->setCurrentWidget(ui_->worldList);
        return;
    }
    const bool archive = !archivePath_.empty();
    const QString folder = isolated(shownPath(archive ? archivePath_ : savesFolder_));
    ui_->emptyLabel->setText(!none ? tr("No world’s name or folder holds “%1”.")
                                         .arg(isolated(ui_->searchEdit->text().trimmed()))
                             : archive || isFolder(platform_.files, savesFolder_)
                                 ? tr("There are no worlds in %1.").arg(folder)
                                 : tr("There is no folder at %1.").arg(folder));
    ui_->chooseSavesButton->setVisible(none);
    ui_->worldPages->setCurrentWidget(ui_->emptyPage);
}

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
    const auto addItem = [&](const QString& label, const std::string& path) {
        auto* item = new QAction(menuText(label), group);
        item->setCheckable(true);
        item->setChecked(archivePath_.empty() && isInUse(path));
        item->setToolTip(shownPath(path));
        connect(item, &QAction::triggered, this, [this, path] { useSavesFolder(path); });
        items << item;
    };
    for (const FoundSavesFolder& folder : folders) {
        addItem(launcherLabel(folder), folder.path);
    }
    // A folder chosen by hand is not among the usual places, but is still the one in use.
    if (!inUseFound && !inUse.empty() && isFolder(platform_.files, inUse)) {
        addItem(shownPath(inUse), inUse);
    }
    auto* separator = new QAction(savesFolderItems_);
    separator->setSeparator(true);
    items << separator;
    ui_->menuSavesFolder->insertActions(ui_->menuSavesFolder->actions().value(0), items);
}

void MainController::saveWindowState() {
    if (window_) {
        settings_.setWindowGeometry(window_->saveGeometry());
    }
    if (worlds_) {
        settings_.setChosenWorld(selectedWorld().value_or(std::string()));
    }
}

void MainController::quit() {
    saveWindowState();
    QCoreApplication::quit();
}

bool MainController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::Close) {
        saveWindowState();
    } else if (watched == window_ && event->type() == QEvent::DragEnter) {
        auto* drag = static_cast<QDragEnterEvent*>(event);
        if (draggedArchive(drag->mimeData())) {
            drag->acceptProposedAction();
            return true;
        }
    } else if (watched == window_ && event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        if (const auto path = draggedArchive(drop->mimeData())) {
            drop->acceptProposedAction();
            // After the drop returns: the drag's source is not kept waiting on the reading.
            QMetaObject::invokeMethod(
                this, [this, archive = *path] { useArchive(archive); }, Qt::QueuedConnection);
            return true;
        }
    } else if (ui_ != nullptr && watched == ui_->worldList && event->type() == QEvent::KeyPress) {
        // Enter on a world presses the default button, as it would in a dialog.
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && selectedWorld()) {
            copy();
            return true;
        }
    } else if (ui_ != nullptr && watched == ui_->searchEdit && event->type() == QEvent::KeyPress &&
               worlds_ && worlds_->shownCount() > 0) {
        // The arrows go on from the search into the list, as in the game's world screen.
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Down || key == Qt::Key_Up) {
            QListView& list = *ui_->worldList;
            const QModelIndex current = list.currentIndex();
            const int rows = list.model()->rowCount();
            const int row =
                !current.isValid()
                    ? (key == Qt::Key_Down ? 0 : rows - 1)
                    : std::clamp(current.row() + (key == Qt::Key_Down ? 1 : -1), 0, rows - 1);
            list.setFocus(Qt::OtherFocusReason);
            list.selectionModel()->setCurrentIndex(list.model()->index(row, 0),
                                                   QItemSelectionModel::ClearAndSelect);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void MainController::findWorld() {
    ui_->searchEdit->setFocus(Qt::ShortcutFocusReason);
    ui_->searchEdit->selectAll();
}

void MainController::chooseServerFolder() {
    // The folder is taken as chosen; the line under it tells whether a server runs there.
    const std::optional<std::string> chosen = platform_.dialogs.chooseFolder(
        chooserStartFolder(platform_.files, settings_.serverFolder()));
    if (!chosen || chosen->empty()) {
        return;
    }
    settings_.setServerFolder(*chosen);
    showServerFolder();
}

void MainController::chooseRemoteServerFolder() {
    const std::string current = settings_.serverFolder();
    const std::optional<QString> chosen = RemoteFolderDialog::choose(
        window_, parseDestination(current).kind == DestinationKind::Remote
                     ? QString::fromStdString(current)
                     : QString());
    if (!chosen || chosen->isEmpty()) {
        return;
    }
    settings_.setServerFolder(chosen->toStdString());
    showServerFolder();
}

void MainController::listServerFolderChoices() {
    serverFolderMenu_->clear();
    serverFolderMenu_->addAction(tr("This Computer…"), this, &MainController::chooseServerFolder);
    serverFolderMenu_->addAction(tr("Another Computer (SSH)…"), this,
                                 &MainController::chooseRemoteServerFolder);
    const std::string current = settings_.serverFolder();
    bool separated = false;
    for (const std::string& folder : settings_.recentServerFolders()) {
        if (folder == current) {
            continue;
        }
        if (!separated) {
            serverFolderMenu_->addSection(tr("Used Before"));
            separated = true;
        }
        QString text = QFile::decodeName(folder.c_str());
        text.replace(QLatin1Char('&'), QStringLiteral("&&"));
        serverFolderMenu_->addAction(text, this, [this, folder] {
            settings_.setServerFolder(folder);
            showServerFolder();
        });
    }
}

void MainController::showServerFolder() {
    const std::string folder = settings_.serverFolder();
    ui_->serverFolderEdit->setText(QFile::decodeName(folder.c_str()));
    ui_->actionOpenServerFolder->setEnabled(!folder.empty());
    serverStatus_->setFolder(folder);
}

void MainController::showServerStatus(const ServerStatus& status) {
    if (ui_ == nullptr) {
        return;
    }
    ui_->serverStatusLabel->setText(describeServerStatus(status));
    if (worlds_) {
        worlds_->markOnServer(status.state == ServerStatus::State::Read ? status.world
                                                                        : std::string(),
                              status.running);
    }
}

void MainController::openServerFolder() {
    const std::string folder = settings_.serverFolder();
    const ParsedDestination destination = parseDestination(folder);
    if (destination.kind == DestinationKind::Local && !folder.empty()) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(folder.c_str())));
    } else if (destination.kind == DestinationKind::Remote) {
        // File managers that speak SFTP open it there.
        QUrl url;
        url.setScheme(QStringLiteral("sftp"));
        url.setUserName(QString::fromStdString(destination.remote.user));
        url.setHost(QString::fromStdString(destination.remote.host));
        url.setPort(destination.remote.port.value_or(-1));
        url.setPath(QString::fromStdString(destination.remote.path));
        QDesktopServices::openUrl(url);
    }
}

void MainController::copy() {
    // The world goes down as chosen now, to the copy and to the server.properties step alike.
    const std::optional<std::string> world = selectedWorld();
    const std::string serverFolder = settings_.serverFolder();
    // The copy reads the file system's failures as its own: no other reading may note one.
    serverStatus_->setPaused(true);
    const auto resume = qScopeGuard([this] { serverStatus_->setPaused(false); });
    if (serverFolder.empty() || !world || (savesFolder_.empty() && archivePath_.empty())) {
        platform_.dialogs.runAlert(Messages::comeOn);
        return;
    }
    if (archivePath_.empty()) {
        deployWorld(platform_, serverFolder, savesFolder_, *world);
        return;
    }
    const auto chosen = std::ranges::find(archiveWorlds_, *world, &ArchiveWorld::name);
    if (chosen == archiveWorlds_.end()) {
        platform_.dialogs.runAlert(Messages::comeOn);
        return;
    }
    // The server folder's free space caps what is unpacked, once it is open.
    ArchiveWorldSource source({.path = archivePath_, .bytes = {}, .name = archivePath_}, *chosen,
                              {});
    deployWorld(platform_, serverFolder, source, chosen->name);
}

std::optional<std::string> MainController::selectedWorld() const {
    return worlds_ ? worlds_->selectedWorld() : std::nullopt;
}

} // namespace Plovermantle
