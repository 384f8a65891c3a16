#include "app/ServerStatus.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/ssh/SshDestination.h"
#include "worlds/ServerProperties.h"

#include <QCoreApplication>
#include <QFile>
#include <QtConcurrent/QtConcurrentRun>

namespace Plovermantle {

ServerStatus readServerStatus(FileSystem& files, const std::string& serverFolder) {
    ServerStatus status;
    if (serverFolder.empty()) {
        return status;
    }
    if (parseDestination(serverFolder).kind == DestinationKind::Remote) {
        status.state = ServerStatus::State::OnAnotherComputer;
        return status;
    }
    const auto resolved = files.canonicalPath(serverFolder);
    const auto folder = files.itemInfo(resolved.value_or(serverFolder));
    if (folder && folder->kind == ItemKind::Missing) {
        files.takeFailure();
        status.state = ServerStatus::State::FolderMissing;
        return status;
    }
    if (!resolved || !folder) {
        const auto failure = files.takeFailure();
        status.state = ServerStatus::State::FolderUnreadable;
        status.reason = failure ? failure->error.message() : "it cannot be looked into";
        return status;
    }
    if (folder->kind != ItemKind::Folder) {
        status.state = ServerStatus::State::NotAFolder;
        return status;
    }
    // A link at server.properties is read where it leads, as the server reads it.
    const std::string path = joinPath(*resolved, "server.properties");
    const auto target = files.canonicalPath(path);
    const auto info = target ? files.itemInfo(*target) : files.itemInfo(path);
    if (!info || info->kind == ItemKind::Missing ||
        (!target && info->kind == ItemKind::SymbolicLink)) {
        status.state = ServerStatus::State::NoProperties;
        return status;
    }
    if (info->kind == ItemKind::RegularFile && info->size > serverPropsMaxBytes) {
        status.state = ServerStatus::State::TooLarge;
        return status;
    }
    const auto text = files.readFile(target.value_or(path), serverPropsMaxBytes);
    if (!text) {
        status.state = info->size > serverPropsMaxBytes ? ServerStatus::State::TooLarge
                                                        : ServerStatus::State::Unreadable;
        const auto failure = files.takeFailure();
        status.reason = failure ? failure->error.message() : "not a regular file";
        return status;
    }
    status.state = ServerStatus::State::Read;
    const auto levelName = levelNameOf(*text);
    status.levelNameMissing = !levelName;
    status.world = levelName.value_or("world");
    // A name that is no single folder names no world we could look at.
    if (!status.world.empty() && status.world.find('/') == std::string::npos &&
        status.world != "." && status.world != "..") {
        status.running =
            files.isLockHeld(joinPath(joinPath(*resolved, status.world), "session.lock"));
    }
    return status;
}

QString describeServerStatus(const ServerStatus& status) {
    const auto isolated = [](const std::string& text) {
        return QChar(0x2068) + QString::fromUtf8(text) + QChar(0x2069);
    };
    const auto tr = [](const char* text) {
        return QCoreApplication::translate("ServerStatus", text);
    };
    switch (status.state) {
    case ServerStatus::State::NoFolderChosen:
        return tr("Choose the folder your server runs in.");
    case ServerStatus::State::OnAnotherComputer:
        return tr("A folder on another computer, reached over SSH when you copy a world.");
    case ServerStatus::State::FolderMissing:
        return tr("This folder does not exist.");
    case ServerStatus::State::FolderUnreadable:
        return tr("This folder cannot be read: %1").arg(QString::fromStdString(status.reason));
    case ServerStatus::State::NotAFolder:
        return tr("This is not a folder.");
    case ServerStatus::State::NoProperties:
        return tr("No server.properties in this folder");
    case ServerStatus::State::TooLarge:
        return tr("server.properties is larger than 1 MiB, so it was not read.");
    case ServerStatus::State::Unreadable:
        return tr("server.properties cannot be read: %1")
            .arg(QString::fromStdString(status.reason));
    case ServerStatus::State::Read:
        break;
    }
    const QString world = isolated(status.world);
    if (status.levelNameMissing) {
        return status.running ? tr("No level-name in server.properties: the server runs “%1”, "
                                   "running now.")
                                    .arg(world)
                              : tr("No level-name in server.properties: the server will run "
                                   "“%1”.")
                                    .arg(world);
    }
    return status.running ? tr("The server runs “%1”, running now.").arg(world)
                          : tr("The server is set to run “%1”; it is not running.").arg(world);
}

ServerStatusWatch::ServerStatusWatch(FileSystem& files, QObject* parent)
    : QObject(parent), files_(files) {
    settle_.setSingleShot(true);
    settle_.setInterval(200);
    connect(&settle_, &QTimer::timeout, this, &ServerStatusWatch::read);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &ServerStatusWatch::refresh);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &ServerStatusWatch::refresh);
    // A server starting or stopping takes or lets go of a lock, which no watch sees.
    poll_.setInterval(3000);
    connect(&poll_, &QTimer::timeout, this, &ServerStatusWatch::refresh);
    connect(&reading_, &QFutureWatcher<ServerStatus>::finished, this, &ServerStatusWatch::take);
}

ServerStatusWatch::~ServerStatusWatch() {
    reading_.waitForFinished();
}

void ServerStatusWatch::setFolder(const std::string& serverFolder) {
    folder_ = serverFolder;
    if (!watcher_.files().isEmpty() || !watcher_.directories().isEmpty()) {
        watcher_.removePaths(watcher_.files() + watcher_.directories());
    }
    if (!folder_.empty() && parseDestination(folder_).kind == DestinationKind::Local) {
        const QString folder = QFile::decodeName(folder_.c_str());
        watcher_.addPath(folder);
        watcher_.addPath(folder + QStringLiteral("/server.properties"));
        poll_.start();
    } else {
        poll_.stop();
    }
    refresh();
}

void ServerStatusWatch::refresh() {
    again_ = true;
    settle_.start();
}

void ServerStatusWatch::setPaused(bool paused) {
    paused_ = paused;
    if (paused) {
        reading_.waitForFinished();
    } else {
        refresh();
    }
}

void ServerStatusWatch::read() {
    if (paused_) {
        again_ = true;
        return;
    }
    if (reading_.isRunning()) {
        return; // read again once this one is in
    }
    again_ = false;
    reading_.setFuture(QtConcurrent::run(
        [&files = files_, folder = folder_] { return readServerStatus(files, folder); }));
}

void ServerStatusWatch::take() {
    const ServerStatus status = reading_.result();
    // A file replaced by a new one (as a rewrite does) is no longer watched under its name.
    if (!folder_.empty() && watcher_.files().isEmpty()) {
        watcher_.addPath(QFile::decodeName(folder_.c_str()) + QStringLiteral("/server.properties"));
    }
    if (again_) {
        // Asked for again while this one ran, perhaps of another folder: only the next one counts.
        if (!settle_.isActive()) {
            read();
        }
        return;
    }
    if (status != status_) {
        status_ = status;
        emit changed(status_);
    }
}

} // namespace Plovermantle
