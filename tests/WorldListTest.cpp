// The world list as the window shows it: names, dates and icons from each world's files, newest
// first, following the saves folder; and a world always copied under its folder's own name.
#include "app/WorldList.h"

#include "LevelDatWriter.h"
#include "settings/Settings.h"
#include "support/TestApp.h"

#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QImage>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <sys/stat.h>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
namespace fs = std::filesystem;
using App = TestApp<>;

namespace {

constexpr qint64 day = 24 * 60 * 60 * 1000;
const qint64 now = QDateTime::currentMSecsSinceEpoch();

// A world folder; with a level name, a level.dat written as the game does, through a new file
// put in place of the old.
void makeWorld(const std::string& folder, const std::string& name = {}, qint64 played = now,
               int mode = 0, bool hardcore = false) {
    const fs::path world = fs::path(savesFolderPath()) / folder;
    fs::create_directories(world);
    if (!name.empty()) {
        writeFile(world / "level.dat_new", LevelDatWriter::gzip(LevelDatWriter::levelNbt(
                                               name, played, mode, hardcore, "1.20.4")));
        fs::rename(world / "level.dat_new", world / "level.dat");
    }
}

// Each item's text and date line, in the list's order.
QStringList shown(QComboBox& list) {
    QStringList items;
    for (int i = 0; i < list.count(); ++i) {
        const QString date = list.itemData(i, lastPlayedRole).toString();
        items << list.itemText(i) + (date.isEmpty() ? "" : " | " + date);
    }
    return items;
}

bool readAll(App& app) {
    return QTest::qWaitFor([&] { return app.interface.delegate().worlds()->isComplete(); });
}

} // namespace

class WorldListTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { isolateHome(); }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void cleanup() {
        fs::remove_all(savesFolderPath());
        globalFullPath() = std::string();
    }

    // Folder names at once; then names, dates and icons as read, most recently played first,
    // the rest by name; and the world copied is the folder picked, whatever its name.
    void showsWorldsAsTheGameDoes() {
        makeWorld("Zed 10");
        makeWorld("Zed 9");
        makeWorld("broken");
        writeFile(fs::path(savesFolderPath()) / "broken/level.dat", "not compressed");
        makeWorld("New World", "Castle", now, 1);
        QImage red(64, 64, QImage::Format_ARGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(QString::fromStdString(savesFolderPath() + "/New World/icon.png")));
        makeWorld("New World (1)", "Castle", now - day, 0, true);
        makeWorld("Old", "Old\nmap", now - 10 * day, 2); // shown on one line
        makeWorld("unplayed", "unplayed", 0);
        App app;
        app.launch();
        QCOMPARE(shown(app.find<QComboBox>("worldList")),
                 (QStringList{"broken", "New World", "New World (1)", "Old", "unplayed", "Zed 9",
                              "Zed 10"}));
        QVERIFY(readAll(app));
        QComboBox& list = app.find<QComboBox>("worldList");
        const QString tenDaysAgo = QLocale().toString(
            QDateTime::fromMSecsSinceEpoch(now - 10 * day).date(), QLocale::ShortFormat);
        QCOMPARE(shown(list),
                 (QStringList{"Castle (New World) | Today", "Castle (New World (1)) | Yesterday",
                              "Old map (Old) | " + tenDaysAgo, "broken", "unplayed", "Zed 9",
                              "Zed 10"}));
        QCOMPARE(list.currentIndex(), -1);
        const auto centre = [&](int row) {
            return list.itemIcon(row).pixmap(64).toImage().pixelColor(32, 32);
        };
        QCOMPARE(centre(0), QColor(Qt::red));
        QVERIFY(centre(1) != QColor(Qt::red)); // the placeholder

        list.setCurrentIndex(1);
        QCOMPARE(list.toolTip().section('\n', 0, 3),
                 QString::fromStdString("Castle\nFolder: " + savesFolderPath() +
                                        "/New World (1)\nVersion: 1.20.4\nGame mode: Hardcore"));
        const fs::path server = fs::path(app.dir.path().toStdString()) / "server";
        writeFile(server / "server.properties", "level-name=world\n");
        app.dialogs.folderAnswers = {server.string()};
        app.find<QAction>("actionChooseServer").trigger();
        app.find<QAction>("actionCopy").trigger();
        QCOMPARE(app.dialogs.alerts, Alerts{worldCopied});
        QVERIFY(fs::exists(server / "New World (1)/level.dat"));
        QCOMPARE(readFile(server / "server.properties"), std::string("level-name=New World (1)\n"));
    }

    // From "A" and "B", "A" chosen, one change: a world added (+), removed (-) or saved anew.
    void followsTheSavesFolder_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("byWatch"); // else by View > Refresh
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("chosen");
        const QStringList abc{"A", "B", "C"};
        QTest::newRow("refresh finds a new world") << "+C" << false << abc << "A";
        QTest::newRow("a chosen world that goes is let go")
            << "-A" << false << QStringList{"B"} << "";
        QTest::newRow("the watch sees a world come") << "+C" << true << abc << "A";
        QTest::newRow("the watch sees the game save a world")
            << "A=Castle" << true << QStringList{"Castle (A) | Today", "B"} << "A";
    }

    void followsTheSavesFolder() {
        QFETCH(QString, change);
        QFETCH(bool, byWatch);
        QFETCH(QStringList, listed);
        QFETCH(QString, chosen);
        makeWorld("A");
        makeWorld("B");
        App app;
        app.launch();
        QVERIFY(readAll(app));
        app.find<QComboBox>("worldList").setCurrentIndex(0);
        if (change.startsWith('-')) {
            fs::remove_all(fs::path(savesFolderPath()) / change.mid(1).toStdString());
        } else {
            makeWorld(change.section('=', 0, 0).remove('+').toStdString(),
                      change.section('=', 1).toStdString());
        }
        if (byWatch) {
            QTRY_COMPARE(shown(app.find<QComboBox>("worldList")), listed);
        } else {
            // At once, before the watch could have seen anything.
            app.find<QAction>("actionRefresh").trigger();
            QCOMPARE(shown(app.find<QComboBox>("worldList")), listed);
        }
        QCOMPARE(app.interface.delegate().selectedWorld().value_or(""), chosen.toStdString());
        if (chosen.isEmpty()) {
            app.find<QLineEdit>("txtServerPath").setText("/server");
            app.find<QPushButton>("copyButton").click();
            QCOMPARE(app.dialogs.alerts, Alerts{comeOn});
        }
    }

    // Only a regular file of at most the size asked for is read; a link is not followed.
    void readsBoundedRegularFiles() {
        const fs::path dir = fs::path(savesFolderPath()) / "files";
        writeFile(dir / "file", "12345");
        fs::create_symlink("file", dir / "link");
        QCOMPARE(::mkfifo((dir / "fifo").c_str(), 0600), 0);
        const auto read = [&](const char* name, std::size_t max) {
            return PosixFileSystem().readFile((dir / name).string(), max).value_or("refused");
        };
        QCOMPARE(read("file", 5), "12345");
        QCOMPARE((std::vector{read("file", 4), read("link", 5), read("fifo", 5), read("nil", 5)}),
                 std::vector<std::string>(4, "refused"));
    }
};

QTEST_MAIN(WorldListTest)
#include "WorldListTest.moc"
