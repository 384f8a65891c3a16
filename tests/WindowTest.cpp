// The main window as a user, a keyboard user and a screen-reader user meet it: the worlds listed
// with names, dates, icons and sizes read from each world (whatever else a valid level.dat holds;
// nothing at all from a malformed one), newest first, following the saves folder, found by search;
// why none show; the Saves Folder menu, with the launchers' usual places found in a fake home (an
// instance's name read from its untrusted instance.cfg); the server folder and what its server
// runs; what outlives a restart; a copy clicked through real message boxes; the progress of long
// work; quitting.
#include "app/QtDialogs.h"
#include "app/WorldList.h"
#include "settings/Settings.h"
#include "support/ArchiveWriter.h"
#include "support/LevelDatWriter.h"
#include "support/TestApp.h"

#include <QTest>
#include <QtWidgets>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
using namespace Plovermantle::Messages;
using namespace Plovermantle::LevelDatWriter;
using namespace std::literals;
namespace fs = std::filesystem;
using App = TestApp<>;

namespace {

fs::path home;

// The game launcher's saves folder, in the test's home.
fs::path saves() {
    return defaultSavesFolder();
}

// The server folder as remembered and as shown.
QStringList serverFolder(App& app) {
    return {QString::fromStdString(app.interface.controller().settings().serverFolder()),
            app.find<QLineEdit>("serverFolderEdit").text()};
}

// Shown and receiving keys as after a user's click.
bool showActive(QWidget& window) {
    window.show();
    QApplication::setActiveWindow(&window);
    return QTest::qWaitForWindowActive(&window);
}

// The real message boxes, each noted as the user sees it with the answer it gave, and answered by
// a click on the button a script names, or by Esc.
class ClickingDialogs : public QtDialogs {
public:
    int runAlert(const Alert& alert) override {
        QTimer::singleShot(0, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr && box->width() >= QtDialogs::minimumAlertWidth);
            Alert shown{{},
                        box->text().toStdString(),
                        box->informativeText().toStdString(),
                        box->icon() == QMessageBox::Warning ? AlertStyle::Warning
                                                            : AlertStyle::Informational};
            const QString answer = answers.isEmpty() ? QStringLiteral("OK") : answers.takeFirst();
            QAbstractButton* clicked = nullptr;
            for (QAbstractButton* button : box->buttons()) {
                if (box->standardButton(button) == QMessageBox::NoButton) {
                    shown.buttons.push_back(button->text().toStdString()); // not the platform's OK
                }
                clicked = button->text() == answer ? button : clicked;
            }
            seen.push_back(shown);
            clicked != nullptr ? QTest::mouseClick(clicked, Qt::LeftButton)
                               : QTest::keyClick(box, Qt::Key_Escape);
        });
        given.push_back(QtDialogs::runAlert(alert));
        return given.back();
    }

    QStringList answers;
    Alerts seen;
    std::vector<int> given;
};

constexpr qint64 day = 24 * 60 * 60 * 1000;
const qint64 now = QDateTime::currentMSecsSinceEpoch();

// A world folder; with a level name, a level.dat written as the game does, through a new file
// put in place of the old.
void makeWorld(const std::string& folder, const std::string& name = {}, qint64 played = now,
               int mode = 0, bool hardcore = false) {
    const fs::path world = saves() / folder;
    fs::create_directories(world);
    if (!name.empty()) {
        writeFile(world / "level.dat_new", gzip(levelNbt(name, played, mode, hardcore, "1.20.4")));
        fs::rename(world / "level.dat_new", world / "level.dat");
    }
}

// Each row the list shows: its name, its folder where that differs, and its date.
QStringList shown(App& app) {
    const QAbstractItemModel& rows = *app.find<QListView>("worldList").model();
    QStringList items;
    for (int row = 0; row < rows.rowCount(); ++row) {
        const QModelIndex index = rows.index(row, 0);
        const QString folder = index.data(folderShownRole).toString();
        const QString date = index.data(lastPlayedRole).toString();
        items << index.data().toString() + (folder.isEmpty() ? "" : " (" + folder + ")") +
                     (date.isEmpty() ? "" : " | " + date);
    }
    return items;
}

// What the list's place shows: the worlds, or why there are none (and whether a button offers
// another folder).
QString listPlace(App& app) {
    if (app.find<QStackedWidget>("worldPages").currentWidget()->objectName() == "worldList") {
        return shown(app).join(", ");
    }
    return app.find<QLabel>("emptyLabel").text().remove(QChar(0x2068)).remove(QChar(0x2069)) +
           (app.find<QPushButton>("chooseSavesButton").isVisibleTo(&app.window()) ? " [Choose]"
                                                                                  : "");
}

bool readAll(App& app) {
    return QTest::qWaitFor([&] { return app.interface.controller().worlds()->isComplete(); });
}

// The submenu as it opens: each item's text, the checked one marked.
QStringList menuShown(App& app) {
    QMenu& menu = app.find<QMenu>("menuSavesFolder");
    emit menu.aboutToShow();
    QStringList shown;
    for (const QAction* item : menu.actions()) {
        shown << (item->isChecked() ? "[x] " : "") + item->text();
    }
    return shown;
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

public:
    static void initMain() {
        home = isolateHome();
        // Away from its default, so that a search that ignores it shows.
        ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    // The next launch starts afresh.
    void cleanup() {
        fs::remove_all(defaultSavesFolder());
        fs::remove_all(home / "server");
    }

    // None with no saves folder, which is never created; folder names at once; then names, dates
    // and icons as read, most recently played first, the rest by name; and the world copied is the
    // folder picked, whatever its name.
    void showsWorldsAsTheGameDoes() {
        App app;
        app.launch();
        QVERIFY(!fs::exists(defaultSavesFolder()) && app.dialogs.alerts.empty());
        makeWorld("Zed 10");
        makeWorld("Zed 9");
        makeWorld("broken");
        writeFile(saves() / "broken/level.dat", "not compressed");
        makeWorld("New World", "Castle", now, 1);
        QImage red(64, 64, QImage::Format_ARGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(QString::fromStdString(saves() / "New World/icon.png")));
        makeWorld("New World (1)", "Castle", now - day, 0, true);
        makeWorld("Old", "Old\nmap", now - 10 * day, 2); // shown on one line
        makeWorld("unplayed", "unplayed", 0);
        // Only the visible folders directly inside, named exactly as on disk.
        makeWorld(" Größe 世界 ");
        buildTree(defaultSavesFolder(),
                  {"d:.hidden", "d:Zed 9/region", "f:notes.txt=x", "l:Link>Old"});
        app.find<QAction>("actionRefresh").trigger();
        QCOMPARE(shown(app), (QStringList{" Größe 世界 ", "broken", "New World", "New World (1)",
                                          "Old", "unplayed", "Zed 9", "Zed 10"}));
        QVERIFY(readAll(app));
        const QString tenDaysAgo = QLocale().toString(
            QDateTime::fromMSecsSinceEpoch(now - 10 * day).date(), QLocale::ShortFormat);
        QCOMPARE(shown(app),
                 (QStringList{"Castle (New World) | Today", "Castle (New World (1)) | Yesterday",
                              "Old map (Old) | " + tenDaysAgo, " Größe 世界 ", "broken", "unplayed",
                              "Zed 9", "Zed 10"}));
        QCOMPARE(app.interface.controller().selectedWorld(), std::nullopt);
        QListView& list = app.find<QListView>("worldList");
        const auto row = [&](int at, int role) {
            return list.model()->index(at, 0).data(role);
        };
        QCOMPARE(row(0, Qt::DecorationRole).value<QIcon>().pixmap(64).toImage().pixelColor(32, 32),
                 QColor(Qt::red));
        QVERIFY(row(1, Qt::DecorationRole).value<QIcon>().pixmap(64).toImage().pixelColor(32, 32) !=
                QColor(Qt::red)); // the placeholder
        QCOMPARE(row(0, sizeRole).toLongLong(), fs::file_size(saves() / "New World/level.dat") +
                                                    fs::file_size(saves() / "New World/icon.png"));
        // Names isolated, so that a right-to-left one cannot reorder the lines around it.
        QCOMPARE(row(1, Qt::ToolTipRole).toString().section('\n', 0, 3),
                 QString::fromStdString(
                     "\u2068Castle\u2069\nFolder: \u2068" + defaultSavesFolder() +
                     "/New World (1)\u2069\nVersion: \u20681.20.4\u2069\nGame mode: Hardcore"));
        list.setCurrentIndex(list.model()->index(1, 0));
        // What a copy takes.
        QCOMPARE(app.interface.controller().selectedWorld(),
                 std::optional<std::string>("New World (1)"));

        // An icon put in place of the old one is decoded anew, however alike the two files are.
        QImage blue = red;
        blue.fill(Qt::blue);
        QVERIFY(blue.save(QString::fromStdString(saves() / "New World/new.png")));
        fs::rename(saves() / "New World/new.png", saves() / "New World/icon.png");
        app.find<QAction>("actionRefresh").trigger();
        QVERIFY(readAll(app));
        QCOMPARE(row(0, Qt::DecorationRole).value<QIcon>().pixmap(64).toImage().pixelColor(32, 32),
                 QColor(Qt::blue));
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
        app.interface.controller().worlds()->select("A");
        if (change.startsWith('-')) {
            fs::remove_all(saves() / change.mid(1).toStdString());
        } else {
            makeWorld(change.section('=', 0, 0).remove('+').toStdString(),
                      change.section('=', 1).toStdString());
        }
        if (byWatch) {
            QTRY_COMPARE(shown(app), listed);
        } else {
            // At once, before the watch could have seen anything.
            app.find<QAction>("actionRefresh").trigger();
            QCOMPARE(shown(app), listed);
        }
        QCOMPARE(app.interface.controller().selectedWorld().value_or(""), chosen.toStdString());
    }

    // Typed into the search (reached by Ctrl+F), on names and folder names; Down goes on into the
    // list, choosing the first world shown.
    void findsWorldsAsYouType_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("chosenByDown");
        const auto row = [](const char* name, QString typed, QString place, QString chosen) {
            QTest::newRow(name) << typed << place << chosen;
        };
        row("nothing typed", "", "Crème Brûlée (cafe), Castle (New World), Zed", "cafe");
        row("any letter case", "CRÈME", "Crème Brûlée (cafe)", "cafe");
        row("without accents", "creme brulee", "Crème Brûlée (cafe)", "cafe");
        row("by folder name", "new w", "Castle (New World)", "New World");
        row("no match", "nether", "No world’s name or folder holds “nether”.", "");
    }

    void findsWorldsAsYouType() {
        QFETCH(QString, typed);
        QFETCH(QString, place);
        QFETCH(QString, chosenByDown);
        makeWorld("Zed");
        makeWorld("New World", "Castle", now - day);
        makeWorld("cafe", "Crème Brûlée");
        App app;
        QVERIFY(showActive(app.window()));
        app.launch();
        QVERIFY(readAll(app));
        QTest::keySequence(&app.window(), QKeySequence::Find);
        QTest::keyClicks(QApplication::focusWidget(), typed);
        QCOMPARE(listPlace(app).remove(QRegularExpression(" \\| [^,]*")), place);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QCOMPARE(app.interface.controller().selectedWorld().value_or(""),
                 chosenByDown.toStdString());
    }

    // Tab goes from the worlds to the server folder and on to the buttons, Copy before Quit; Alt+W
    // comes back to the search.
    void tabsInReadingOrder() {
        makeWorld("A");
        App app;
        QVERIFY(showActive(app.window()));
        app.launch();
        QTest::keySequence(&app.window(), QKeySequence("Alt+W"));
        QStringList order{QApplication::focusWidget()->objectName()};
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(order, (QStringList{"searchEdit", "worldList", "serverFolderEdit",
                                     "chooseServerButton", "copyButton", "quitButton"}));
    }

    // No saves folder, or one without worlds, says so where the list would be, with a way to
    // choose another.
    void saysWhyNoWorldShows_data() {
        QTest::addColumn<QString>("saves"); // what the saves folder is
        QTest::addColumn<QString>("place");
        const QString path = QString::fromStdString(defaultSavesFolder());
        const auto row = [](const char* name, QString saves, QString place) {
            QTest::newRow(name) << saves << place;
        };
        row("missing", "", "There is no folder at " + path + ". [Choose]");
        row("empty", "d:", "There are no worlds in " + path + ". [Choose]");
        row("only files", "f:notes.txt=x", "There are no worlds in " + path + ". [Choose]");
        row("a world", "d:World", "World");
    }

    void saysWhyNoWorldShows() {
        QFETCH(QString, saves);
        QFETCH(QString, place);
        if (!saves.isEmpty()) {
            buildTree(defaultSavesFolder(), {saves.toStdString()});
        }
        App app;
        app.launch();
        QCOMPARE(listPlace(app), place);
    }

    // The line under the server folder: what its server.properties names, whether that world is
    // running, and why it cannot tell; the running world marked in the list.
    void tellsWhatTheServerRuns_data() {
        QTest::addColumn<QStringList>("server"); // the server folder's items; "" for none
        QTest::addColumn<bool>("locked");        // Island/session.lock held
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("islandMark");
        const auto row = [](const char* name, QStringList server, bool locked, QString line,
                            OnServer mark = OnServer::No) {
            QTest::newRow(name) << server << locked << line << static_cast<int>(mark);
        };
        row("no folder", {}, false, "This folder does not exist.");
        row("no server.properties", {"d:Island"}, false, "No server.properties in this folder");
        row("no level-name", {"f:server.properties=motd=hi\n", "f:world/session.lock="}, false,
            "No level-name in server.properties: the server will run “world”.");
        row("a world not running", {"f:server.properties=level-name=Island\n"}, false,
            "The server is set to run “Island”; it is not running.", OnServer::Named);
        row("a world running",
            {"f:server.properties=#level-name=Other\nlevel-name = Isl\\\n  and\r\n",
             "f:Island/session.lock="},
            true, "The server runs “Island”, running now.", OnServer::Running);
        row("escapes, the last entry wins",
            {"f:server.properties=level-name=Island\nlevel-name:Caf\\u00e9 \\ud83d\\ude00\n"},
            false, "The server is set to run “Café 😀”; it is not running.");
        row("larger than a server writes", {"f:server.properties=" + QString(1 << 20, 'x') + "\n"},
            false, "server.properties is larger than 1 MiB, so it was not read.");
        row("not a file", {"d:server.properties"}, false,
            "server.properties cannot be read: not a regular file");
    }

    void tellsWhatTheServerRuns() {
        QFETCH(QStringList, server);
        QFETCH(bool, locked);
        QFETCH(QString, line);
        QFETCH(int, islandMark);
        makeWorld("Island");
        const fs::path folder = home / "server";
        for (const QString& item : server) {
            buildTree(folder, {item.toStdString()});
        }
        GameLock lock;
        QVERIFY(!locked || lock.take(folder / "Island/session.lock"));
        App app;
        app.launch();
        app.dialogs.folderAnswers = {folder.string()};
        app.find<QAction>("actionChooseServer").trigger();
        QTRY_COMPARE(app.find<QLabel>("serverStatusLabel")
                         .text()
                         .remove(QChar(0x2068))
                         .remove(QChar(0x2069)),
                     line);
        QCOMPARE(app.find<QListView>("worldList").model()->index(0, 0).data(onServerRole).toInt(),
                 islandMark);
    }

    void findsTheLaunchersAndRemembersTheChosenOne() {
        const fs::path prism = home / "data/PrismLauncher/instances";
        const fs::path flatPrism =
            home / ".var/app/org.prismlauncher.PrismLauncher/data/PrismLauncher/instances/f";
        for (const fs::path& folder :
             {home / ".minecraft/saves/Home World",
              home / ".var/app/com.mojang.Minecraft/.minecraft/saves",
              prism / "a1/minecraft/saves/Island", prism / "b2/.minecraft/saves",
              prism / "No Config/minecraft/saves", prism / "Unplayed/minecraft",
              prism / "Zz Linked", flatPrism / "minecraft/saves"}) {
            fs::create_directories(folder);
        }
        writeFile(prism / "a1/instance.cfg", "[General]\nname=Survival Größe 世界\n");
        writeFile(prism / "b2/instance.cfg", "name=\"Old & \\\"quoted\\\"\"\n");
        writeFile(prism / "Unplayed/instance.cfg", "name=Unplayed\n");
        writeFile(flatPrism / "instance.cfg", "name=Flat\n");
        fs::create_directory_symlink(prism / "a1/minecraft", prism / "Zz Linked/minecraft");

        App app;
        app.launch();
        QCOMPARE(menuShown(app),
                 (QStringList{"[x] Game launcher", "Game launcher (Flatpak)",
                              "Prism Launcher: No Config", "Prism Launcher: Old && \"quoted\"",
                              "Prism Launcher: Survival Größe 世界",
                              "Prism Launcher (Flatpak): Flat", "", "&Other Folder…"}));
        app.find<QMenu>("menuSavesFolder").actions().at(4)->trigger(); // the Survival instance
        QCOMPARE(shown(app), QStringList{"Island"});
        QCOMPARE(app.find<QToolButton>("savesSourceButton").text(),
                 "Prism Launcher: Survival Größe 世界");

        const QString prefsFile = app.dir.filePath("prefs.ini");
        const auto restart = [&] {
            App restarted(prefsFile);
            restarted.launch();
            return std::pair(QString::fromStdString(restarted.interface.controller().savesFolder()),
                             shown(restarted));
        };
        QCOMPARE(restart(),
                 std::pair(QString((prism / "a1/minecraft/saves").c_str()), QStringList{"Island"}));
        fs::remove_all(prism / "a1/minecraft");
        QCOMPARE(restart(), std::pair(QString::fromStdString(defaultSavesFolder()),
                                      QStringList{"Home World"}));

        const fs::path other = home / "elsewhere";
        fs::create_directories(other / "Far World");
        app.dialogs.folderAnswers = {other.string()};
        app.find<QAction>("actionOtherSavesFolder").trigger();
        QCOMPARE(shown(app), QStringList{"Far World"});
        QVERIFY(menuShown(app).contains("[x] " + QDir::toNativeSeparators(other.c_str())));
    }

    // The button's Copy (pressed by Alt+C) answered Esc changes nothing; Enter on the world,
    // answered Replace, puts the world in place and points the server at it.
    void copiesThroughTheWindow() {
        const fs::path server = home / "Game Server";
        buildTree(saves() / "Island", sampleWorld);
        buildTree(server, {"f:server.properties=level-name=world\n", "f:Island/level.dat=old"});
        Testing::TestApp<PosixFileSystem, ClickingDialogs> app;
        app.interface.controller().settings().setServerFolder(server.string());
        app.dialogs.answers = {QStringLiteral("Esc"), QStringLiteral("Replace")};
        QVERIFY(showActive(app.window()));
        app.launch();
        app.interface.controller().worlds()->select("Island");
        QTest::keySequence(&app.window(), QKeySequence("Alt+C"));
        const Alert prompt = replacePrompt({"Island"}, server.string(), false);
        QTRY_COMPARE(app.dialogs.seen, Alerts{prompt});

        QTest::keyClick(&app.find<QListView>("worldList"), Qt::Key_Return);
        QCOMPARE(app.dialogs.seen, (Alerts{prompt, prompt, worldCopied}));
        // Esc answers as the last button; the others as the order they were given in.
        QCOMPARE(app.dialogs.given, (std::vector{cancel, replace, replace}));
        QCOMPARE(snapshotTree(server / "Island"), snapshotTree(saves() / "Island"));
        QCOMPARE(readFile(server / "server.properties"), std::string("level-name=Island\n"));
        QCOMPARE(entries(server), (std::vector<std::string>{"Island", "server.properties",
                                                            "server.properties.backup"}));
    }

    // An archive dropped on the window lists its worlds by their names in level.dat, the source
    // line names it, and Copy deploys the chosen one from it; a saves folder puts the list back.
    void copiesFromADroppedArchive() {
        const fs::path server = home / "server";
        buildTree(server, {"f:server.properties=level-name=world\n"});
        const fs::path archive = home / "Downloads/Sky Map.zip";
        writeFile(
            archive,
            makeArchive("zip", {"f:Sky Map/MyMap/level.dat=" +
                                    gzip(LevelDatWriter::levelNbt("Sky", 0, 0, false, "1.21")),
                                "f:Sky Map/MyMap/region/r.0.0.mca=r"}));
        Testing::TestApp app;
        app.interface.controller().settings().setServerFolder(server.string());
        QVERIFY(showActive(app.window()));
        app.launch();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(archive.string()))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&app.window(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&app.window(), &drop);
        QTRY_COMPARE(app.interface.controller().archive(), archive.string());
        auto& list = app.find<QListView>("worldList");
        QCOMPARE(list.model()->rowCount(), 1);
        QCOMPARE(list.model()->index(0, 0).data().toString(), QStringLiteral("Sky"));
        QCOMPARE(app.find<QToolButton>("savesSourceButton").text(), QStringLiteral("Sky Map.zip"));
        app.interface.controller().worlds()->select("MyMap");
        app.interface.controller().copy();
        QCOMPARE(app.dialogs.alerts, Alerts{worldCopied});
        QCOMPARE(readFile(server / "MyMap/region/r.0.0.mca"), std::string("r"));
        QCOMPARE(readFile(server / "server.properties"), std::string("level-name=MyMap\n"));
        app.interface.controller().useSavesFolder(defaultSavesFolder());
        QCOMPARE(app.interface.controller().archive(), std::string());
        QCOMPARE(list.model()->rowCount(), 0);
    }

    // The chooser opens where the user is: the folder in use, the nearest one left above it, or
    // home.
    void chooserOpensAtTheFolderInUse() {
        const std::string server = (home / "server").string();
        fs::create_directories(server);
        App app;
        for (const auto& [inUse, opensAt] : std::vector<std::pair<std::string, std::string>>{
                 {server, server}, {server + "/gone/deeper", server}, {"", home.string()}}) {
            app.interface.controller().settings().setServerFolder(inUse);
            app.find<QAction>("actionChooseServer").trigger();
            QCOMPARE(app.dialogs.chooserStarts.back(), opensAt);
        }
    }

    void quitByShortcutOrButtonEndsTheRun() {
        App app;
        QVERIFY(showActive(app.window()));
        const auto endsTheRun = [&](auto quit) {
            QTimer::singleShot(0, &app.window(), quit);
            // A quit that does nothing would otherwise hang the test rather than fail it.
            QTimer::singleShot(5000, &app.window(), [] { QCoreApplication::exit(1); });
            return QApplication::exec() == 0;
        };
        QVERIFY(endsTheRun([&] { QTest::keySequence(&app.window(), QKeySequence("Ctrl+Q")); }));
        QVERIFY(endsTheRun([&] { app.find<QPushButton>("quitButton").click(); }));
    }

    // The server folder, chosen by button (Alt+O) or menu, kept through a cancelled choice and
    // shown exactly, blanks and all; the window's size and the world chosen as the window closed:
    // all open the next run.
    void remembersAcrossARestart() {
        makeWorld("A");
        makeWorld("B");
        const QString odd = QStringLiteral(" /home/me/Mein Server/Größe 世界 ");
        QTemporaryDir dir;
        const QString prefsFile = dir.filePath(QStringLiteral("prefs.ini"));
        {
            App app(prefsFile);
            QVERIFY(showActive(app.window()));
            app.launch();
            QCOMPARE(serverFolder(app), QStringList(2, QString()));
            app.dialogs.folderAnswers = {odd.toStdString(), std::nullopt, ""};
            // Choose… (Alt+O) offers this computer, another one, and the folders used before.
            const auto chooseFromMenu = [&](int item, const std::function<void()>& open) {
                auto offered = std::make_shared<QStringList>();
                QTimer::singleShot(0, &app.window(), [offered, item] {
                    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                        for (QAction* action : menu->actions()) {
                            *offered << action->text();
                        }
                        menu->close();
                        menu->actions().at(item)->trigger();
                    }
                });
                open();
                return *offered;
            };
            QCOMPARE(chooseFromMenu(
                         0, [&] { QTest::keySequence(&app.window(), QKeySequence("Alt+O")); }),
                     (QStringList{"This Computer…", "Another Computer (SSH)…"}));
            QTRY_COMPARE(serverFolder(app), QStringList(2, odd));
            app.find<QAction>("actionChooseServer").trigger(); // cancelled
            app.find<QAction>("actionChooseServer").trigger(); // accepted with no folder
            QVERIFY(app.dialogs.folderAnswers.empty() && app.dialogs.alerts.empty());
            app.dialogs.folderAnswers = {"/srv/other"};
            app.find<QAction>("actionChooseServer").trigger();
            QCOMPARE(
                chooseFromMenu(3, [&] { app.find<QPushButton>("chooseServerButton").showMenu(); })
                    .mid(2),
                (QStringList{"Used Before", odd}));
            QCOMPARE(serverFolder(app), QStringList(2, odd));
            app.window().resize(900, 500);
            app.interface.controller().worlds()->select("B");
            app.window().close();
        }
        App restarted(prefsFile);
        restarted.launch();
        QCOMPARE(serverFolder(restarted), QStringList(2, odd));
        QCOMPARE(restarted.window().size(), QSize(900, 500));
        QCOMPARE(restarted.interface.controller().selectedWorld(), std::optional<std::string>("B"));
    }

    void showsProgressOnlyForLongWork_data() {
        QTest::addColumn<int>("workMs");
        QTest::newRow("quick: no dialog") << 300;
        // Runs until Cancel stops it; the time only bounds a failing run.
        QTest::newRow("long: a modal dialog whose Cancel stops the work") << 20000;
    }

    void showsProgressOnlyForLongWork() {
        QFETCH(int, workMs);
        const bool isLong = workMs > QtDialogs::progressDelayMs;
        // What the user saw of the dialog, once it showed progress; Cancel is pressed then.
        QString shown;
        int ticks = 0;
        // Were the main thread held up while the work runs, this would run at most once, after it.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            ++ticks;
            auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || !dialog->isVisible() || dialog->value() <= 0 ||
                !shown.isEmpty()) {
                return;
            }
            const bool modal = dialog->windowModality() == Qt::ApplicationModal;
            shown = dialog->labelText() + " | " + QString::number(dialog->value()) + "/1000" +
                    (modal ? ", modal" : "");
            dialog->findChild<QPushButton*>()->click(); // its only button, Cancel
        });
        poll.start(10);
        bool stopped = false;
        const QDeadlineTimer deadline(workMs);
        QtDialogs().runWithProgress("Copying “World”", [&](const WorkProgressReport& report) {
            while (!stopped && !deadline.hasExpired()) {
                // Three of ten files and a quarter of the bytes.
                stopped = !report({3, 10, 1024 * 1024, 4 * 1024 * 1024});
                std::this_thread::sleep_for(5ms);
            }
        });
        QCOMPARE(stopped, isLong);
        QCOMPARE(shown,
                 isLong
                     ? QStringLiteral(
                           "Copying “World”\n3 of 10 files, 1.00 MiB of 4.00 MiB | 250/1000, modal")
                     : QString());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
    }

    void failureOfTheWorkReachesTheCaller() {
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 QtDialogs().runWithProgress("Copying", [](const auto&) {
                                     throw std::runtime_error("disk gone");
                                 }));
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
