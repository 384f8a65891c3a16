#include "app/WorldList.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <QApplication>
#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QListView>
#include <QLocale>
#include <QPainter>
#include <QSet>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <algorithm>
#include <cerrno>
#include <chrono>
#ifdef __linux__
#include <sys/resource.h>
#endif
#include <utility>

namespace Plovermantle {

namespace {

constexpr int iconSide = 64; // the size the game makes its world icons

QString qtName(const std::string& name) {
    return QFile::decodeName(QByteArray::fromStdString(name));
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

// Draws each world of the open list as the game does: its icon, then its name over its date.
class WorldDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QFontMetrics metrics(option.font);
        const int text = metrics.horizontalAdvance(index.data().toString());
        return {iconSide + 3 * margin + text,
                std::max(iconSide, 2 * metrics.height()) + 2 * margin};
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

        const QRect area = option.rect.adjusted(margin, margin, -margin, -margin);
        const QRect iconArea(area.topLeft(), QSize(iconSide, std::min(iconSide, area.height())));
        index.data(Qt::DecorationRole).value<QIcon>().paint(painter, iconArea);

        const bool selected = (option.state & QStyle::State_Selected) != 0;
        const QPalette::ColorRole textRole = selected ? QPalette::HighlightedText : QPalette::Text;
        QRect textArea = area.adjusted(iconSide + margin, 0, 0, 0);
        const QString date = index.data(lastPlayedRole).toString();
        painter->save();
        QFont bold = option.font;
        bold.setBold(true);
        painter->setFont(bold);
        painter->setPen(option.palette.color(textRole));
        const Qt::Alignment align =
            Qt::AlignLeft | (date.isEmpty() ? Qt::AlignVCenter : Qt::AlignBottom);
        const QRect nameArea =
            date.isEmpty() ? textArea : textArea.adjusted(0, 0, 0, -area.height() / 2);
        painter->drawText(nameArea, static_cast<int>(align) | Qt::TextSingleLine,
                          QFontMetrics(bold).elidedText(index.data().toString(), Qt::ElideRight,
                                                        nameArea.width()));
        painter->setFont(option.font);
        if (!selected) {
            painter->setPen(option.palette.color(QPalette::PlaceholderText));
        }
        painter->drawText(textArea.adjusted(0, area.height() / 2, 0, 0),
                          Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, date);
        painter->restore();
    }

private:
    static constexpr int margin = 4;
};

} // namespace

WorldList::WorldList(QComboBox& box, FileSystem& files)
    : box_(box), files_(files), choosePlaceholder_(box.placeholderText()),
      placeholderIcon_(placeholder(box.palette())) {
    box_.setIconSize(QSize(iconSide / 2, iconSide / 2));
    box_.setItemDelegate(new WorldDelegate(&box_));
    box_.setMaxVisibleItems(6);
    if (auto* view = qobject_cast<QListView*>(box_.view())) {
        view->setUniformItemSizes(true); // so that a thousand worlds are not measured one by one
    }
    settle_.setSingleShot(true);
    settle_.setInterval(300);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, &settle_,
            qOverload<>(&QTimer::start));
    connect(&settle_, &QTimer::timeout, this, &WorldList::refresh);
    connect(&box_, &QComboBox::currentIndexChanged, this, &WorldList::describeSelection);
    // Should the list not be drawn soon (a window minimised or covered), reading starts anyway.
    drawn_.setSingleShot(true);
    drawn_.setInterval(250);
    connect(&drawn_, &QTimer::timeout, this, &WorldList::startReading);
    box_.installEventFilter(this);
}

WorldList::~WorldList() {
    stopReading();
}

void WorldList::show(const std::string& savesFolder) {
    if (savesFolder != savesFolder_) {
        read_.clear(); // what was read of another folder's worlds says nothing of these
    }
    savesFolder_ = savesFolder;
    refresh();
}

void WorldList::refresh() {
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
    if (box_.isVisible()) {
        box_.update(); // drawn even when nothing in it has changed
        drawn_.start();
    } else {
        startReading();
    }
}

bool WorldList::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &box_ && event->type() == QEvent::Paint && readPending_) {
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

void WorldList::fill(const std::vector<std::string>& folders) {
    const int current = box_.currentIndex();
    const std::optional<std::string> selected =
        current < 0
            ? std::nullopt
            : std::optional(box_.itemData(current, worldNameRole).toByteArray().toStdString());
    auto* model = qobject_cast<QStandardItemModel*>(box_.model());
    if (folders != shown_) {
        // Built whole and put in at once: one change for the box to take in, not one per world.
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
        box_.clear();
        model->invisibleRootItem()->appendRows(items);
        shown_ = folders;
    }
    const auto row = selected ? rowOf_.find(*selected) : rowOf_.end();
    box_.setCurrentIndex(row == rowOf_.end() ? -1 : row->second);
    box_.setPlaceholderText(shown_.empty() ? tr("No worlds found") : choosePlaceholder_);
    describeSelection();
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
    if (name != folderName) {
        // Two worlds may share a name; their folders tell them apart.
        name = tr("%1 (%2)").arg(name, folderName);
    }
    const auto played = details != nullptr ? lastPlayed(details->level) : std::nullopt;
    const QIcon icon =
        details != nullptr && !details->icon.isNull() ? details->icon : placeholderIcon_;
    return {{Qt::DisplayRole, name},
            {Qt::DecorationRole, icon},
            {worldNameRole, QByteArray::fromStdString(folder)},
            {lastPlayedRole, played ? dayText(*played) : QString()}};
}

QString WorldList::toolTip(const std::string& folder) const {
    const auto found = read_.find(folder);
    const LevelSummary* level =
        found != read_.end() && found->second.level ? &*found->second.level : nullptr;
    const QString path = QDir::toNativeSeparators(qtName(joinPath(savesFolder_, folder)));
    QStringList tip{level != nullptr && level->name && !level->name->empty()
                        ? QString::fromStdU16String(*level->name)
                        : qtName(folder),
                    tr("Folder: %1").arg(path)};
    if (level == nullptr) {
        return tip.join('\n');
    }
    if (level->version) {
        tip << tr("Version: %1").arg(QString::fromStdU16String(*level->version));
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

void WorldList::describeSelection() {
    const int current = box_.currentIndex();
    // With no world chosen, where the worlds were looked for is the first thing to check when one
    // is missing.
    box_.setToolTip(current >= 0
                        ? toolTip(box_.itemData(current, worldNameRole).toByteArray().toStdString())
                        : tr("Worlds in the game's saves folder:\n%1")
                              .arg(QDir::toNativeSeparators(qtName(savesFolder_))));
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
    if (const QSet<QString> added = wanted - watched; !added.isEmpty()) {
        watcher_.addPaths(added.values());
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
                           generation = generation_, folders = shown_] {
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
        for (std::size_t i = 0; i <= folders.size() && !*stop; ++i) {
            const bool last = i == folders.size();
            if (!last) {
                WorldDetails read = readWorldDetails(files, joinPath(saves, folders[i]));
                batch.emplace_back(folders[i],
                                   Details{std::move(read.level), decodeIcon(read.icon), {}});
            }
            if (last || Clock::now() - sent > std::chrono::milliseconds(50)) {
                QMetaObject::invokeMethod(
                    this,
                    [this, generation, last, done = std::exchange(batch, {})]() mutable {
                        apply(generation, std::move(done), last);
                    },
                    Qt::QueuedConnection);
                sent = Clock::now();
            }
        }
    });
}

void WorldList::apply(unsigned generation, Batch batch, bool last) {
    if (generation != generation_) {
        return; // from a reading that a refresh has replaced
    }
    auto* model = qobject_cast<QStandardItemModel*>(box_.model());
    for (auto& [folder, details] : batch) {
        details.icon = details.image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(details.image));
        details.image = QImage();
        read_[folder] = std::move(details);
        if (const auto row = rowOf_.find(folder); row != rowOf_.end()) {
            model->setItemData(model->index(row->second, 0), itemData(folder));
        }
    }
    if (last) {
        fill(ordered(shown_));
        watch(true);
        complete_ = true;
        emit completed();
    } else if (box_.currentIndex() >= 0) {
        describeSelection();
    }
}

} // namespace Plovermantle
