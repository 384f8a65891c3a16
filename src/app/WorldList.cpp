#include "app/WorldList.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <QApplication>
#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QItemSelectionModel>
#include <QListView>
#include <QLocale>
#include <QPainter>
#include <QSet>
#include <QStyledItemDelegate>
#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#ifdef __linux__
#include <sys/resource.h>
#endif
#include <utility>

namespace Plovermantle {

namespace {

constexpr int iconSide = 64;  // the size the game makes its world icons
constexpr int iconShown = 48; // three lines of text high
constexpr int rowMargin = 6;
// A walk that would take minutes is not worth a figure in a list.
constexpr std::size_t maxSizedItems = 1'000'000;

QString qtName(const std::string& name) {
    return QFile::decodeName(QByteArray::fromStdString(name));
}

// Keeps a name from another script from reordering the text around it.
QString isolated(const QString& text) {
    return QChar(0x2068) + text + QChar(0x2069);
}

// Decoded off the UI thread; only a picture of about the game's size is decoded at all.
QImage decodeIcon(const std::string& bytes) {
    if (bytes.empty()) {
        return {};
    }
    QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    QImageReader reader(&buffer, "png");
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > 1024 || size.height() > 1024) {
        return {};
    }
    const QImage image = reader.read();
    return image.isNull() || image.size() == QSize(iconSide, iconSide)
               ? image
               : image.scaled(iconSide, iconSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

// The bytes of the regular files in the tree at `folder`, links not followed; nothing when it
// cannot be walked whole or is stopped.
std::optional<std::uint64_t> treeSize(FileSystem& files, const std::string& folder,
                                      const std::atomic<bool>& stop) {
    std::uint64_t total = 0;
    std::size_t items = 0;
    std::vector<std::string> pending{folder};
    while (!pending.empty()) {
        const std::string current = std::move(pending.back());
        pending.pop_back();
        const auto entries = files.listFolder(current);
        if (!entries || stop) {
            return std::nullopt;
        }
        for (const ListedEntry& entry : *entries) {
            if (++items > maxSizedItems) {
                return std::nullopt;
            }
            const std::string path = joinPath(current, entry.name);
            if (entry.isDirectory.value_or(false)) {
                pending.push_back(path);
            } else if (const auto info = files.itemInfo(path);
                       info && info->kind == ItemKind::RegularFile) {
                total += info->size;
            }
        }
    }
    return total;
}

QIcon placeholder(const QPalette& palette) {
    QPixmap pixmap(iconSide, iconSide);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette.color(QPalette::Mid), 2));
    painter.setBrush(palette.color(QPalette::Button));
    painter.drawRoundedRect(QRectF(4, 4, iconSide - 8, iconSide - 8), 8, 8);
    return QIcon(pixmap);
}

std::optional<std::int64_t> lastPlayed(const std::optional<LevelSummary>& level) {
    // A file that never saw a game, or a clock set to 1970, has no date worth showing.
    if (level && level->lastPlayed && *level->lastPlayed > 0) {
        return level->lastPlayed;
    }
    return std::nullopt;
}

QString dayText(std::int64_t millis) {
    const QDate day = QDateTime::fromMSecsSinceEpoch(millis).date();
    const QDate today = QDate::currentDate();
    if (day == today) {
        return WorldList::tr("Today");
    }
    if (day == today.addDays(-1)) {
        return WorldList::tr("Yesterday");
    }
    return QLocale().toString(day, QLocale::ShortFormat);
}

QString gameMode(const LevelSummary& level) {
    if (level.hardcore) {
        return WorldList::tr("Hardcore");
    }
    switch (level.gameType.value_or(-1)) {
    case 0:
        return WorldList::tr("Survival");
    case 1:
        return WorldList::tr("Creative");
    case 2:
        return WorldList::tr("Adventure");
    case 3:
        return WorldList::tr("Spectator");
    default:
        return {};
    }
}

// Draws each world as the game's world screen does: its icon, then its name, its folder and date,
// and its mode, version and size, each on a line of its own.
class WorldDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option,
                   const QModelIndex& /*index*/) const override {
        const QFontMetrics metrics(option.font);
        return {iconShown + 3 * rowMargin + 20 * metrics.averageCharWidth(),
                std::max(iconShown, 3 * metrics.height()) + 2 * rowMargin};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem background = option;
        initStyleOption(&background, index);
        background.text.clear();
        background.icon = QIcon();
        const QWidget* widget = option.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

        const QRect area = option.rect.adjusted(rowMargin, rowMargin, -rowMargin, -rowMargin);
        const QRect iconArea(area.left(), area.top() + (area.height() - iconShown) / 2, iconShown,
                             iconShown);
        index.data(Qt::DecorationRole).value<QIcon>().paint(painter, iconArea);

        const bool selected = (option.state & QStyle::State_Selected) != 0;
        const QColor text =
            option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        const QColor quiet = selected ? text : option.palette.color(QPalette::PlaceholderText);
        QRect textArea = area.adjusted(iconShown + rowMargin, 0, 0, 0);
        const QFontMetrics metrics(option.font);
        const int line = textArea.height() / 3;
        painter->save();

        // The mark of the server's world, at the end of the first line.
        const auto onServer = static_cast<OnServer>(index.data(onServerRole).toInt());
        int markWidth = 0;
        if (onServer != OnServer::No) {
            const QString mark = onServer == OnServer::Running
                                     ? WorldList::tr("Running on the server")
                                     : WorldList::tr("On the server");
            markWidth = metrics.horizontalAdvance(mark) + 2 * rowMargin;
            const QRect markArea(textArea.right() - markWidth, textArea.top(), markWidth,
                                 metrics.height() + 2);
            painter->setRenderHint(QPainter::Antialiasing);
            painter->setPen(Qt::NoPen);
            painter->setBrush(onServer == OnServer::Running ? QColor(0x2e, 0x8b, 0x57)
                                                            : option.palette.color(QPalette::Mid));
            painter->drawRoundedRect(markArea, 4, 4);
            painter->setPen(Qt::white);
            painter->drawText(markArea, Qt::AlignCenter, mark);
        }

        QFont bold = option.font;
        bold.setBold(true);
        painter->setFont(bold);
        painter->setPen(text);
        const QRect nameArea(textArea.left(), textArea.top(),
                             textArea.width() - markWidth - rowMargin, line);
        painter->drawText(nameArea, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          QFontMetrics(bold).elidedText(index.data().toString(), Qt::ElideMiddle,
                                                        nameArea.width()));
        painter->setFont(option.font);
        painter->setPen(quiet);
        const auto drawLine = [&](int row, const QStringList& parts) {
            QStringList shown;
            for (const QString& part : parts) {
                if (!part.isEmpty()) {
                    shown << isolated(part);
                }
            }
            const QRect lineArea(textArea.left(), textArea.top() + row * line, textArea.width(),
                                 line);
            painter->drawText(lineArea, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                              metrics.elidedText(shown.join(QStringLiteral("  ·  ")),
                                                 Qt::ElideMiddle, lineArea.width()));
        };
        const QVariant size = index.data(sizeRole);
        drawLine(1,
                 {index.data(folderShownRole).toString(), index.data(lastPlayedRole).toString()});
        drawLine(2, {index.data(detailsRole).toString(),
                     size.isValid() ? QLocale().formattedDataSize(size.toLongLong()) : QString()});
        painter->restore();
    }
};

} // namespace

QString searchKey(const QString& text) {
    QString key;
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    key.reserve(decomposed.size());
    for (const QChar character : decomposed) {
        if (character.category() != QChar::Mark_NonSpacing &&
            character.category() != QChar::Mark_Enclosing &&
            character.category() != QChar::Mark_SpacingCombining) {
            key += character;
        }
    }
    return key.toCaseFolded();
}

void WorldFilter::setSearch(const QString& text) {
    const QString needle = searchKey(text.trimmed());
    if (needle != needle_) {
        needle_ = needle;
        invalidateFilter();
    }
}

bool WorldFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    return needle_.isEmpty() || sourceModel()
                                    ->index(sourceRow, 0, sourceParent)
                                    .data(searchTextRole)
                                    .toString()
                                    .contains(needle_);
}

// Decoded icons by the file's identity and time: a refresh decodes only the icons that changed.
struct WorldList::IconCache {
    struct Entry {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::uint64_t size = 0;
        FileTime modified;
        QImage image;
    };
    std::mutex mutex;
    std::map<std::string, Entry> byPath;

    std::optional<QImage> find(const std::string& path, const ItemInfo& info) {
        const std::lock_guard lock(mutex);
        const auto found = byPath.find(path);
        if (found == byPath.end() || found->second.device != info.device ||
            found->second.inode != info.inode || found->second.size != info.size ||
            !(found->second.modified == info.modified)) {
            return std::nullopt;
        }
        return found->second.image;
    }
    void keep(const std::string& path, const ItemInfo& info, const QImage& image) {
        const std::lock_guard lock(mutex);
        if (byPath.size() > 4096) {
            byPath.clear(); // a bound, not a policy: icons are cheap to decode again
        }
        byPath[path] = {info.device, info.inode, info.size, info.modified, image};
    }
};

WorldList::WorldList(QListView& view, FileSystem& files)
    : view_(view), files_(files), placeholderIcon_(placeholder(view.palette())),
      icons_(std::make_shared<IconCache>()) {
    filter_.setSourceModel(&model_);
    view_.setModel(&filter_);
    view_.setItemDelegate(new WorldDelegate(&view_));
    view_.setUniformItemSizes(true); // so that a thousand worlds are not measured one by one
    view_.setSelectionMode(QAbstractItemView::SingleSelection);
    view_.setEditTriggers(QAbstractItemView::NoEditTriggers);
    settle_.setSingleShot(true);
    settle_.setInterval(300);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, &settle_,
            qOverload<>(&QTimer::start));
    connect(&settle_, &QTimer::timeout, this, &WorldList::refresh);
    connect(view_.selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &WorldList::selectionChanged);
    connect(&filter_, &QSortFilterProxyModel::layoutChanged, this, &WorldList::listChanged);
    connect(&filter_, &QSortFilterProxyModel::rowsInserted, this, &WorldList::listChanged);
    connect(&filter_, &QSortFilterProxyModel::rowsRemoved, this, &WorldList::listChanged);
    connect(&filter_, &QSortFilterProxyModel::modelReset, this, &WorldList::listChanged);
    // Should the list not be drawn soon (a window minimised or covered), reading starts anyway.
    drawn_.setSingleShot(true);
    drawn_.setInterval(250);
    connect(&drawn_, &QTimer::timeout, this, &WorldList::startReading);
    view_.viewport()->installEventFilter(this);
}

WorldList::~WorldList() {
    stopReading();
}

void WorldList::show(const std::string& savesFolder) {
    if (savesFolder != savesFolder_ || archive_) {
        read_.clear(); // what was read of another folder's worlds says nothing of these
        view_.clearSelection();
    }
    savesFolder_ = savesFolder;
    archive_ = false;
    refresh();
}

void WorldList::showArchive(const std::string& archive, const std::vector<ArchiveWorld>& worlds) {
    stopReading();
    ++generation_; // what a reading of the saves folder still sends is for another list
    settle_.stop();
    for (const QStringList& paths : {watcher_.directories(), watcher_.files()}) {
        if (!paths.isEmpty()) {
            watcher_.removePaths(paths);
        }
    }
    archive_ = true;
    readPending_ = false;
    view_.clearSelection();
    read_.clear();
    archiveFolders_.clear();
    std::vector<std::string> names;
    for (const ArchiveWorld& world : worlds) {
        read_[world.name] = Details{world.level, {}, {}, world.totals.bytes};
        archiveFolders_[world.name] = archive + (world.path.empty() ? "" : ": " + world.path);
        names.push_back(world.name);
    }
    fill(ordered(names));
    complete_ = true;
    emit completed();
}

void WorldList::refresh() {
    if (archive_) {
        return; // an archive's worlds are read again only when it is opened again
    }
    const std::vector<std::string> folders = listWorlds(files_, savesFolder_);
    // Forget the worlds that are gone; the others show what was read of them till read again.
    std::unordered_map<std::string, Details> kept;
    for (const std::string& folder : folders) {
        if (auto found = read_.find(folder); found != read_.end()) {
            kept.insert(std::move(*found));
        }
    }
    read_ = std::move(kept);
    fill(ordered(folders));
    watch(false);
    // Reading hundreds of files competes for the processor with drawing the window, so a list on
    // screen is read once it has been drawn with its folder names.
    stopReading();
    ++generation_;
    complete_ = false;
    readPending_ = true;
    if (view_.isVisible()) {
        view_.viewport()->update(); // drawn even when nothing in it has changed
        drawn_.start();
    } else {
        startReading();
    }
}

bool WorldList::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_.viewport() && event->type() == QEvent::Paint && readPending_) {
        QTimer::singleShot(0, this, &WorldList::startReading); // once this paint is done
    }
    return false;
}

std::vector<std::string> WorldList::ordered(const std::vector<std::string>& folders) const {
    std::vector<WorldOrderKey> keys;
    keys.reserve(folders.size());
    for (const std::string& folder : folders) {
        const auto found = read_.find(folder);
        keys.push_back(
            {folder, found == read_.end() ? std::nullopt : lastPlayed(found->second.level)});
    }
    orderWorlds(keys);
    std::vector<std::string> order;
    order.reserve(keys.size());
    for (WorldOrderKey& key : keys) {
        order.push_back(std::move(key.folder));
    }
    return order;
}

std::optional<std::string> WorldList::selectedWorld() const {
    const QModelIndexList rows = view_.selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        return std::nullopt;
    }
    return rows.first().data(worldNameRole).toByteArray().toStdString();
}

void WorldList::select(const std::string& folder) {
    const auto row = rowOf_.find(folder);
    const QModelIndex index =
        row == rowOf_.end() ? QModelIndex() : filter_.mapFromSource(model_.index(row->second, 0));
    if (!index.isValid()) {
        view_.clearSelection();
        return;
    }
    view_.selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    view_.scrollTo(index);
}

void WorldList::fill(const std::vector<std::string>& folders) {
    const std::optional<std::string> selected = selectedWorld();
    if (folders != shown_) {
        // Built whole and put in at once: one change for the view to take in, not one per world.
        QList<QStandardItem*> items;
        items.reserve(static_cast<qsizetype>(folders.size()));
        rowOf_.clear();
        for (const std::string& folder : folders) {
            auto* item = new QStandardItem;
            item->setEditable(false);
            const QMap<int, QVariant> data = itemData(folder);
            for (auto it = data.begin(); it != data.end(); ++it) {
                item->setData(it.value(), it.key());
            }
            rowOf_[folder] = static_cast<int>(items.size());
            items.append(item);
        }
        model_.clear();
        model_.invisibleRootItem()->appendRows(items);
        shown_ = folders;
    }
    if (selected) {
        select(*selected);
    }
    emit listChanged();
}

QMap<int, QVariant> WorldList::itemData(const std::string& folder) const {
    const QString folderName = qtName(folder);
    const auto found = read_.find(folder);
    const Details* details = found == read_.end() ? nullptr : &found->second;
    const LevelSummary* level = details != nullptr && details->level ? &*details->level : nullptr;
    QString name = level != nullptr && level->name && !level->name->empty()
                       ? QString::fromStdU16String(*level->name)
                       : folderName;
    // A name may hold anything, line breaks and NULs included; the list shows one line.
    for (QChar& character : name) {
        character = character.category() == QChar::Other_Control ? QChar(u' ') : character;
    }
    const auto played = details != nullptr ? lastPlayed(details->level) : std::nullopt;
    const QIcon icon =
        details != nullptr && !details->icon.isNull() ? details->icon : placeholderIcon_;
    QStringList details2;
    if (level != nullptr) {
        details2 << gameMode(*level);
        if (level->version && !level->version->empty()) {
            details2 << QString::fromStdU16String(*level->version);
        }
        details2.removeAll(QString());
    }
    const OnServer onServer = folder != onServer_ ? OnServer::No
                              : serverRunning_    ? OnServer::Running
                                                  : OnServer::Named;
    QMap<int, QVariant> data{{Qt::DisplayRole, name},
                             {Qt::DecorationRole, icon},
                             {Qt::ToolTipRole, toolTip(folder)},
                             {worldNameRole, QByteArray::fromStdString(folder)},
                             {lastPlayedRole, played ? dayText(*played) : QString()},
                             // Two worlds may share a name; their folders tell them apart.
                             {folderShownRole, name != folderName ? folderName : QString()},
                             {detailsRole, details2.join(QStringLiteral(", "))},
                             {onServerRole, static_cast<int>(onServer)},
                             {searchTextRole, searchKey(name + QChar(u'\n') + folderName)},
                             {sizeRole, QVariant()}};
    if (details != nullptr && details->size) {
        data[sizeRole] = static_cast<qint64>(*details->size);
    }
    return data;
}

QString WorldList::toolTip(const std::string& folder) const {
    const auto found = read_.find(folder);
    const LevelSummary* level =
        found != read_.end() && found->second.level ? &*found->second.level : nullptr;
    const auto inArchive = archive_ ? archiveFolders_.find(folder) : archiveFolders_.end();
    const QString path = inArchive != archiveFolders_.end()
                             ? qtName(inArchive->second)
                             : QDir::toNativeSeparators(qtName(joinPath(savesFolder_, folder)));
    QStringList tip{isolated(level != nullptr && level->name && !level->name->empty()
                                 ? QString::fromStdU16String(*level->name)
                                 : qtName(folder)),
                    tr("Folder: %1").arg(isolated(path))};
    if (level == nullptr) {
        return tip.join('\n');
    }
    if (level->version) {
        tip << tr("Version: %1").arg(isolated(QString::fromStdU16String(*level->version)));
    }
    if (const QString mode = gameMode(*level); !mode.isEmpty()) {
        tip << tr("Game mode: %1").arg(mode);
    }
    if (const auto played = lastPlayed(found->second.level)) {
        tip << tr("Last played: %1")
                   .arg(QLocale().toString(QDateTime::fromMSecsSinceEpoch(*played),
                                           QLocale::ShortFormat));
    }
    return tip.join('\n');
}

void WorldList::markOnServer(const std::string& folder, bool running) {
    if (folder == onServer_ && running == serverRunning_) {
        return;
    }
    const std::string before = std::exchange(onServer_, folder);
    serverRunning_ = running;
    for (const std::string& changed : {before, folder}) {
        if (const auto row = rowOf_.find(changed); row != rowOf_.end()) {
            model_.setData(model_.index(row->second, 0), itemData(changed).value(onServerRole),
                           onServerRole);
        }
    }
}

void WorldList::watch(bool everyWorld) {
    // The saves folder tells of worlds added, removed or renamed; each world's folder of the game
    // saving it, which replaces its level.dat. Those are many, so they are added once the worlds
    // have been read, not while the window is starting.
    const QStringList watchedList = watcher_.directories();
    const QSet<QString> watched(watchedList.begin(), watchedList.end());
    QSet<QString> wanted{qtName(savesFolder_)};
    for (const std::string& folder : shown_) {
        const QString path = qtName(joinPath(savesFolder_, folder));
        if (everyWorld || watched.contains(path)) {
            wanted.insert(path);
        }
    }
    if (const QSet<QString> gone = watched - wanted; !gone.isEmpty()) {
        watcher_.removePaths(gone.values());
    }
    // One at a time, so that the first refusal of the system's watch limit is the last: each
    // further try would be refused, and logged, again.
    for (const QString& path : wanted - watched) {
        if (watchLimitReached_) {
            break;
        }
        if (watcher_.addPath(path) || !QFileInfo::exists(path)) {
            continue;
        }
        watchLimitReached_ = true;
        qWarning("Changes to the worlds are no longer followed (the system's limit of watched "
                 "folders is reached); View > Refresh (F5) reads them again.");
        emit watchLimitReached();
    }
}

void WorldList::stopReading() {
    if (stop_) {
        stop_->store(true);
    }
    if (worker_.joinable()) {
        worker_.join();
    }
}

void WorldList::startReading() {
    if (!readPending_) {
        return;
    }
    readPending_ = false;
    drawn_.stop();
    stop_ = std::make_shared<std::atomic<bool>>(false);
    worker_ = std::thread([this, &files = files_, saves = savesFolder_, stop = stop_,
                           icons = icons_, generation = generation_, folders = shown_] {
        using Clock = std::chrono::steady_clock;
#ifdef __linux__
        // The window comes first; decorations can wait their turn. On Linux a nice value belongs
        // to the thread that sets it.
        errno = 0;
        const int nice = ::getpriority(PRIO_PROCESS, 0);
        if (errno == 0) {
            ::setpriority(PRIO_PROCESS, 0, std::min(nice + 10, 19));
        }
#endif
        // Sent in batches, each soon after the last: decorations show as they come without a
        // thousand separate updates.
        Batch batch;
        auto sent = Clock::now();
        const auto send = [&](Stage stage) {
            if (stage != Stage::Reading || Clock::now() - sent > std::chrono::milliseconds(50)) {
                QMetaObject::invokeMethod(
                    this,
                    [this, generation, stage, done = std::exchange(batch, {})]() mutable {
                        apply(generation, std::move(done), stage);
                    },
                    Qt::QueuedConnection);
                sent = Clock::now();
            }
        };
        // Names, dates and icons first, for all; then sizes, which take a walk of every file.
        for (std::size_t i = 0; i < folders.size() && !*stop; ++i) {
            const std::string world = joinPath(saves, folders[i]);
            WorldDetails read = readWorldDetails(files, world);
            const std::string iconPath = joinPath(world, "icon.png");
            const auto iconInfo = files.itemInfo(iconPath);
            std::optional<QImage> image;
            if (iconInfo && iconInfo->kind == ItemKind::RegularFile) {
                image = icons->find(iconPath, *iconInfo);
                if (!image) {
                    image = decodeIcon(read.icon);
                    icons->keep(iconPath, *iconInfo, *image);
                }
            }
            batch.push_back(
                {folders[i], Details{std::move(read.level), image.value_or(QImage()), {}, {}}, {}});
            send(Stage::Reading);
        }
        if (!*stop) {
            send(Stage::DetailsRead);
        }
        for (std::size_t i = 0; i < folders.size() && !*stop; ++i) {
            batch.push_back(
                {folders[i], std::nullopt, treeSize(files, joinPath(saves, folders[i]), *stop)});
            send(Stage::Reading);
        }
        if (!*stop) {
            send(Stage::SizesRead);
        }
    });
}

void WorldList::apply(unsigned generation, Batch batch, Stage stage) {
    if (generation != generation_) {
        return; // from a reading that a refresh has replaced
    }
    for (Reading& reading : batch) {
        Details& details = read_[reading.folder];
        if (reading.details) {
            QImage& image = reading.details->image;
            reading.details->icon = image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
            image = QImage();
            reading.details->size = details.size; // known from an earlier reading till measured
            details = std::move(*reading.details);
        } else {
            details.size = reading.size;
        }
        if (const auto row = rowOf_.find(reading.folder); row != rowOf_.end()) {
            model_.setItemData(model_.index(row->second, 0), itemData(reading.folder));
        }
    }
    if (stage == Stage::DetailsRead) {
        fill(ordered(shown_));
        watch(true);
    } else if (stage == Stage::SizesRead) {
        complete_ = true;
        emit completed();
    }
}

} // namespace Plovermantle
