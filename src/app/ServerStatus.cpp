#include "app/ServerStatus.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/ssh/SshDestination.h"

#include <QCoreApplication>
#include <QFile>
#include <QtConcurrent/QtConcurrentRun>

namespace Plovermantle {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\f';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

void appendUtf8(std::string& out, char32_t code) {
    const QString text = QString::fromUcs4(&code, 1);
    out += text.toUtf8().toStdString();
}

// The logical lines of a properties text: line ends of any kind, a line ending in an odd number
// of backslashes continued on the next without its leading blanks.
std::vector<std::string> logicalLines(std::string_view text) {
    std::vector<std::string> lines;
    std::string current;
    bool continued = false;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find_first_of("\r\n", at);
        end = end == std::string_view::npos ? text.size() : end;
        std::string_view line = text.substr(at, end - at);
        if (continued) {
            while (!line.empty() && isBlank(line.front())) {
                line.remove_prefix(1);
            }
        }
        current += line;
        std::size_t backslashes = 0;
        while (backslashes < current.size() && current[current.size() - 1 - backslashes] == '\\') {
            ++backslashes;
        }
        continued = backslashes % 2 == 1 && end < text.size();
        if (continued) {
            current.pop_back();
        } else {
            lines.push_back(std::move(current));
            current.clear();
        }
        at = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
    }
    return lines;
}

// `escaped` with the properties reader's escapes resolved.
std::string unescape(std::string_view escaped) {
    std::string out;
    char16_t high = 0;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        char c = escaped[i];
        if (c != '\\' || i + 1 == escaped.size()) {
            out += c;
            continue;
        }
        c = escaped[++i];
        if (c == 'u') {
            int value = 0;
            for (std::size_t k = 1; k <= 4 && value >= 0; ++k) {
                const int digit = i + k < escaped.size() ? hexValue(escaped[i + k]) : -1;
                value = digit < 0 ? -1 : value * 16 + digit;
            }
            if (value < 0) {
                out += 'u'; // not an escape after all; the server refuses such a file anyway
                continue;
            }
            i += 4;
            const auto unit = static_cast<char16_t>(value);
            if (unit >= 0xD800 && unit < 0xDC00) {
                high = unit;
                continue;
            }
            if (unit >= 0xDC00 && unit < 0xE000 && high != 0) {
                appendUtf8(out, 0x10000 + ((char32_t(high) - 0xD800) << 10) + (unit - 0xDC00));
            } else {
                appendUtf8(out, unit);
            }
            high = 0;
            continue;
        }
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c == 'f' ? '\f' : c;
    }
    return out;
}

} // namespace

std::optional<std::string> levelNameOf(std::string_view text) {
    std::optional<std::string> found;
    for (const std::string& whole : logicalLines(text)) {
        std::string_view line = whole;
        while (!line.empty() && isBlank(line.front())) {
            line.remove_prefix(1);
        }
        if (line.empty() || line.front() == '#' || line.front() == '!') {
            continue;
        }
        std::size_t keyEnd = 0;
        while (keyEnd < line.size() && line[keyEnd] != '=' && line[keyEnd] != ':' &&
               !isBlank(line[keyEnd])) {
            keyEnd += line[keyEnd] == '\\' ? std::size_t{2} : std::size_t{1};
        }
        keyEnd = std::min(keyEnd, line.size());
        if (unescape(line.substr(0, keyEnd)) != "level-name") {
            continue;
        }
        std::string_view value = line.substr(keyEnd);
        while (!value.empty() && isBlank(value.front())) {
            value.remove_prefix(1);
        }
        if (!value.empty() && (value.front() == '=' || value.front() == ':')) {
            value.remove_prefix(1);
        }
        while (!value.empty() && isBlank(value.front())) {
            value.remove_prefix(1);
        }
        found = unescape(value);
    }
    return found;
}

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
    if (info->kind == ItemKind::RegularFile && info->size > maxServerPropertiesBytes) {
        status.state = ServerStatus::State::TooLarge;
        return status;
    }
    const auto text = files.readFile(target.value_or(path), maxServerPropertiesBytes);
    if (!text) {
        status.state = info->size > maxServerPropertiesBytes ? ServerStatus::State::TooLarge
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
