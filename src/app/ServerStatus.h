#pragma once

#include <QFileSystemWatcher>
#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <optional>
#include <string>
#include <string_view>

namespace Plovermantle {

class FileSystem;

// What the server in a folder is set to run, as its server.properties says.
struct ServerStatus {
    enum class State {
        NoFolderChosen,
        OnAnotherComputer, // read only when copying, over the connection the copy makes
        FolderMissing,
        FolderUnreadable,
        NotAFolder,
        NoProperties,
        TooLarge,
        Unreadable,
        Read
    };
    State state = State::NoFolderChosen;
    std::string world;             // the world the server loads, exactly as named on disk
    bool levelNameMissing = false; // so the server loads its default, "world"
    bool running = false;          // the world's session.lock is held
    std::string reason;            // why the folder or server.properties could not be read

    bool operator==(const ServerStatus&) const = default;
};

// Reads the status of the server in `serverFolder`, never more than serverPropsMaxBytes.
// Safe to call from a worker thread as long as `files` is.
ServerStatus readServerStatus(FileSystem& files, const std::string& serverFolder);

// The one line the window shows under the server folder.
QString describeServerStatus(const ServerStatus& status);

// Keeps the status of one server folder current: read off the UI thread, again whenever the folder
// or its server.properties changes, and every few seconds for the world's lock.
class ServerStatusWatch : public QObject {
    Q_OBJECT

public:
    // `files` is read from a worker thread.
    explicit ServerStatusWatch(FileSystem& files, QObject* parent = nullptr);
    ~ServerStatusWatch() override;

    void setFolder(const std::string& serverFolder);
    // Reads the status again, soon.
    void refresh();
    // Stops reading, once the reading under way is in, while other work reports the file
    // system's failures; resuming reads again.
    void setPaused(bool paused);
    const ServerStatus& status() const { return status_; }
    // Whether a reading is under way or due.
    bool isBusy() const { return reading_.isRunning() || again_; }

signals:
    void changed(const Plovermantle::ServerStatus& status);

private:
    void read();
    void take();

    FileSystem& files_;
    std::string folder_;
    ServerStatus status_;
    QFileSystemWatcher watcher_;
    QTimer settle_;
    QTimer poll_;
    QFutureWatcher<ServerStatus> reading_;
    bool again_ = false;
    bool paused_ = false;
};

} // namespace Plovermantle
