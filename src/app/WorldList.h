#pragma once

#include "worlds/WorldDiscovery.h"

#include <QComboBox>
#include <QFileSystemWatcher>
#include <QIcon>
#include <QImage>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace Plovermantle {

class FileSystem;

// What a worldList item carries besides its text, icon and tooltip. The folder's exact name rides
// along as bytes: file names are bytes, and the text shown may not round-trip to them.
inline constexpr int worldNameRole = Qt::UserRole;      // QByteArray
inline constexpr int lastPlayedRole = Qt::UserRole + 1; // "Today", "Yesterday" or a short date

// Keeps the world combo box showing the worlds in the saves folder: their folder names at once,
// then, as a worker reads them, their icons, names and dates, most recently played first. It
// follows the folder while the app runs and keeps the user's choice while that world is there.
class WorldList : public QObject {
    Q_OBJECT

public:
    // `files` is read from a worker thread too.
    WorldList(QComboBox& box, FileSystem& files);
    ~WorldList() override;
    WorldList(const WorldList&) = delete;
    WorldList& operator=(const WorldList&) = delete;

    // Lists the worlds in `savesFolder` now and follows that folder from then on.
    void show(const std::string& savesFolder);
    // Lists the folder again.
    void refresh();
    // Whether every listed world shows what could be read of it.
    bool isComplete() const { return complete_; }

signals:
    // Every listed world shows what could be read of it.
    void completed();

private:
    struct Details {
        std::optional<LevelSummary> level;
        QImage image;
        QIcon icon;
    };
    using Batch = std::vector<std::pair<std::string, Details>>;

    bool eventFilter(QObject* watched, QEvent* event) override;
    void startReading();
    void stopReading();
    void apply(unsigned generation, Batch batch, bool last);
    void fill(const std::vector<std::string>& folders);
    std::vector<std::string> ordered(const std::vector<std::string>& folders) const;
    QMap<int, QVariant> itemData(const std::string& folder) const;
    // Built only for the chosen world, which the box's own tooltip then tells about.
    QString toolTip(const std::string& folder) const;
    void describeSelection();
    void watch(bool everyWorld);

    QComboBox& box_;
    FileSystem& files_;
    std::string savesFolder_;
    QString choosePlaceholder_;
    QIcon placeholderIcon_;
    QFileSystemWatcher watcher_;
    QTimer settle_; // many changes at once, as when the game saves, make one refresh
    QTimer drawn_;
    std::vector<std::string> shown_; // the folders in the box, in its order
    std::unordered_map<std::string, int> rowOf_;
    std::unordered_map<std::string, Details> read_; // what is known of each listed world
    std::thread worker_;
    std::shared_ptr<std::atomic<bool>> stop_;
    unsigned generation_ = 0;
    bool complete_ = true;
    bool readPending_ = false;
};

} // namespace Plovermantle
