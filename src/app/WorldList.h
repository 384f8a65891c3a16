#pragma once

#include "worlds/Archive.h"
#include "worlds/WorldDiscovery.h"

#include <QFileSystemWatcher>
#include <QIcon>
#include <QImage>
#include <QObject>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

class QListView;

namespace Plovermantle {

class FileSystem;

// What a row carries besides its name (DisplayRole), icon and tooltip. The folder's exact name
// rides along as bytes: file names are bytes, and the text shown may not round-trip to them.
inline constexpr int worldNameRole = Qt::UserRole;       // QByteArray
inline constexpr int lastPlayedRole = Qt::UserRole + 1;  // "Today", "Yesterday" or a short date
inline constexpr int folderShownRole = Qt::UserRole + 2; // the folder's name where it differs
inline constexpr int detailsRole = Qt::UserRole + 3;     // game mode and version
inline constexpr int sizeRole = Qt::UserRole + 4;        // qint64 bytes, once known
inline constexpr int onServerRole = Qt::UserRole + 5;    // OnServer
inline constexpr int searchTextRole = Qt::UserRole + 6;  // names as searchKey() folds them

enum class OnServer { No, Named, Running };

// `text` as a search compares it: letter case, accents and compatibility forms folded away.
QString searchKey(const QString& text);

// The rows whose names or folder names hold what is searched for, ignoring case and accents.
class WorldFilter : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setSearch(const QString& text);
    const QString& search() const { return needle_; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    QString needle_;
};

// Keeps a list view showing the worlds in the saves folder: their folder names at once, then, as a
// worker reads them, their icons, names, dates and sizes, most recently played first. It follows
// the folder while the app runs and keeps the user's choice while that world is there.
class WorldList : public QObject {
    Q_OBJECT

public:
    // `files` is read from a worker thread too.
    WorldList(QListView& view, FileSystem& files);
    ~WorldList() override;
    WorldList(const WorldList&) = delete;
    WorldList& operator=(const WorldList&) = delete;

    // Lists the worlds in `savesFolder` now and follows that folder from then on.
    void show(const std::string& savesFolder);
    // Lists the worlds found in an archive, as they were read there; nothing is followed.
    void showArchive(const std::string& archive, const std::vector<ArchiveWorld>& worlds);
    // Lists the folder again.
    void refresh();
    // Whether every listed world shows what could be read of it, its size included.
    bool isComplete() const { return complete_; }
    // How many worlds the folder holds, and how many the search lets through.
    int count() const { return model_.rowCount(); }
    int shownCount() const { return filter_.rowCount(); }

    WorldFilter& filter() { return filter_; }
    // The world chosen in the view, exactly as named on disk; nothing when none is, or when the
    // search hides it.
    std::optional<std::string> selectedWorld() const;
    // Chooses the world in `folder` when it is listed.
    void select(const std::string& folder);
    // Marks the world the server is set to run, and whether it runs now.
    void markOnServer(const std::string& folder, bool running);

signals:
    // Every listed world shows what could be read of it.
    void completed();
    // The worlds listed changed, or the search did.
    void listChanged();
    // The world chosen changed.
    void selectionChanged();
    // The system would follow no more folders: changes show from now on only on refresh.
    void watchLimitReached();

private:
    struct Details {
        std::optional<LevelSummary> level;
        QImage image;
        QIcon icon;
        std::optional<std::uint64_t> size;
    };
    struct Reading {
        std::string folder;
        std::optional<Details> details; // else only the size is new
        std::optional<std::uint64_t> size;
    };
    using Batch = std::vector<Reading>;
    enum class Stage { Reading, DetailsRead, SizesRead };
    struct IconCache;

    bool eventFilter(QObject* watched, QEvent* event) override;
    void startReading();
    void stopReading();
    void apply(unsigned generation, Batch batch, Stage stage);
    void fill(const std::vector<std::string>& folders);
    std::vector<std::string> ordered(const std::vector<std::string>& folders) const;
    QMap<int, QVariant> itemData(const std::string& folder) const;
    QString toolTip(const std::string& folder) const;
    void watch(bool everyWorld);

    QListView& view_;
    FileSystem& files_;
    QStandardItemModel model_;
    WorldFilter filter_;
    std::string savesFolder_;
    std::string onServer_;
    bool serverRunning_ = false;
    QIcon placeholderIcon_;
    QFileSystemWatcher watcher_;
    bool watchLimitReached_ = false;
    QTimer settle_; // many changes at once, as when the game saves, make one refresh
    QTimer drawn_;
    std::vector<std::string> shown_; // the folders in the model, in its order
    std::unordered_map<std::string, int> rowOf_;
    std::unordered_map<std::string, Details> read_; // what is known of each listed world
    std::shared_ptr<IconCache> icons_;
    std::thread worker_;
    std::shared_ptr<std::atomic<bool>> stop_;
    unsigned generation_ = 0;
    bool complete_ = true;
    bool readPending_ = false;
    bool archive_ = false;                                        // the worlds are an archive's
    std::unordered_map<std::string, std::string> archiveFolders_; // where each is in it
};

} // namespace Plovermantle
