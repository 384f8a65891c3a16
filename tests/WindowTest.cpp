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
#include <stdexcept>
#include <thread>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
using namespace Plovermantle::Messages;
using namespace Plovermantle::LevelDatWriter;
namespace fs = std::filesystem;
using App = TestApp<>;

namespace {

fs::path home;
fs::path saves; // the game launcher's, in the test's home

// The server folder as remembered and as shown.
QStringList serverFolder(App& app) {
    return {QString::fromStdString(app.controller().settings().serverFolder()),
            app.find<QLineEdit>("serverFolderEdit").text()};
}

// Shown and receiving keys as after a user's click.
bool showActive(QWidget& window) {
    window.show();
    QApplication::setActiveWindow(&window);
    return QTest::qWaitForWindowActive(&window);
}

// The real message boxes, each noted as the user sees it, and answered by a click on the button a
// script names, or by Esc.
class ClickingDialogs : public QtDialogs {
public:
    int runAlert(const Alert& alert) override {
        QTimer::singleShot(0, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr && box->width() >= QtDialogs::minimumAlertWidth);
            const auto style = box->icon() == QMessageBox::Warning ? AlertStyle::Warning
                                                                   : AlertStyle::Informational;
            Alert& shown = seen.emplace_back(
                Alert{{}, box->text().toStdString(), box->informativeText().toStdString(), style});
            const QString answer = answers.isEmpty() ? QStringLiteral("OK") : answers.takeFirst();
            QAbstractButton* clicked = nullptr;
            for (QAbstractButton* button : box->buttons()) {
                if (box->standardButton(button) == QMessageBox::NoButton) {
                    shown.buttons.push_back(button->text().toStdString()); // not the platform's OK
                }
                clicked = button->text() == answer ? button : clicked;
            }
            clicked != nullptr ? QTest::mouseClick(clicked, Qt::LeftButton)
                               : QTest::keyClick(box, Qt::Key_Escape);
        });
        return QtDialogs::runAlert(alert);
    }

    QStringList answers;
    Alerts seen;
};

constexpr qint64 day = 24 * 60 * 60 * 1000;
const qint64 now = QDateTime::currentMSecsSinceEpoch();

// A world folder; with a level name, a level.dat written as the game does, through a new file
// put in place of the old.
void makeWorld(const std::string& folder, const std::string& name = {}, qint64 played = now,
               int mode = 0, bool hardcore = false) {
    const fs::path world = saves / folder;
    fs::create_directories(world);
    if (!name.empty()) {
        writeFile(world / "level.dat_new", gzip(levelNbt(name, played, mode, hardcore, "1.20.4")));
        fs::rename(world / "level.dat_new", world / "level.dat");
    }
}

// Each row the list shows: its name, its folder where that differs, and its date.
QStringList shown(auto& app) {
    const QAbstractItemModel& rows = *app.template find<QListView>("worldList").model();
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

// Text as read, without the marks that isolate names.
QString plain(QString text) {
    return text.remove(QChar(0x2068)).remove(QChar(0x2069));
}

// What the list's place shows: the worlds, or why there are none (and whether a button offers
// another folder).
QString listPlace(App& app) {
    if (app.find<QStackedWidget>("worldPages").currentWidget()->objectName() == "worldList") {
        return shown(app).join(", ");
    }
    return plain(app.find<QLabel>("emptyLabel").text()) +
           (app.find<QPushButton>("chooseSavesButton").isVisibleTo(&app.window()) ? " [Choose]"
                                                                                  : "");
}

// The submenu as it opens: each item's text, the checked one marked.
QStringList menuShown(QMenu& menu) {
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
        saves = defaultSavesFolder();
        // Away from its default, so that a search that ignores it shows.
        ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    // The next launch starts afresh.
    void cleanup() {
        fs::remove_all(saves);
        fs::remove_all(home / "server");
    }

    // Why none show, with a way to choose another folder: no saves folder (which is never
    // created), or one without worlds; then folder names at once; then names, dates and icons as
    // read, most recently played first, the rest by name; the world copied is the folder picked,
    // whatever its name; and the list follows the folder.
    void showsWorldsAsTheGameDoes() {
        App app;
        app.launch();
        QVERIFY(!fs::exists(saves) && app.dialogs.alerts.empty());
        const QString path = QString::fromStdString(saves);
        QCOMPARE(listPlace(app), "There is no folder at " + path + ". [Choose]");
        buildTree(saves, {"f:notes.txt=x"});
        app.find<QAction>("actionRefresh").trigger();
        QCOMPARE(listPlace(app), "There are no worlds in " + path + ". [Choose]");
        // Only the visible folders directly inside, named exactly as on disk.
        buildTree(saves, {"d:Zed 10", "d:Zed 9/region", "f:broken/level.dat=not compressed",
                          "d: Größe 世界 ", "d:.hidden", "l:Link>Old"});
        makeWorld("New World", "Castle", now, 1);
        QImage red(64, 64, QImage::Format_ARGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(QString::fromStdString(saves / "New World/icon.png")));
        makeWorld("New World (1)", "Castle", now - day, 0, true);
        makeWorld("Old", "Old\nmap", now - 10 * day, 2); // shown on one line
        makeWorld("unplayed", "unplayed", 0);
        app.find<QAction>("actionRefresh").trigger();
        QCOMPARE(shown(app), (QStringList{" Größe 世界 ", "broken", "New World", "New World (1)",
                                          "Old", "unplayed", "Zed 9", "Zed 10"}));
        QTRY_VERIFY(app.controller().worlds()->isComplete());
        const QString tenDaysAgo = QLocale().toString(
            QDateTime::fromMSecsSinceEpoch(now - 10 * day).date(), QLocale::ShortFormat);
        QCOMPARE(shown(app),
                 (QStringList{"Castle (New World) | Today", "Castle (New World (1)) | Yesterday",
                              "Old map (Old) | " + tenDaysAgo, " Größe 世界 ", "broken", "unplayed",
                              "Zed 9", "Zed 10"}));
        QCOMPARE(app.controller().selectedWorld(), std::nullopt);
        QListView& list = app.find<QListView>("worldList");
        const auto row = [&](int at, int role) {
            return list.model()->index(at, 0).data(role);
        };
        const auto iconColour = [&](int at) {
            return row(at, Qt::DecorationRole).value<QIcon>().pixmap(8).toImage().pixelColor(4, 4);
        };
        QCOMPARE(iconColour(0), QColor(Qt::red));
        QVERIFY(iconColour(1) != QColor(Qt::red)); // the placeholder
        QCOMPARE(row(0, sizeRole).toLongLong(), fs::file_size(saves / "New World/level.dat") +
                                                    fs::file_size(saves / "New World/icon.png"));
        // Names isolated, so that a right-to-left one cannot reorder the lines around it.
        QCOMPARE(row(1, Qt::ToolTipRole).toString().section('\n', 0, 3),
                 QString::fromStdString(
                     "\u2068Castle\u2069\nFolder: \u2068" + saves.string() +
                     "/New World (1)\u2069\nVersion: \u20681.20.4\u2069\nGame mode: Hardcore"));
        list.setCurrentIndex(list.model()->index(1, 0));
        // What a copy takes.
        QCOMPARE(app.controller().selectedWorld(), std::optional<std::string>("New World (1)"));

        // An icon put in place of the old one is decoded anew, however alike the two files are.
        QImage blue = red;
        blue.fill(Qt::blue);
        QVERIFY(blue.save(QString::fromStdString(saves / "New World/new.png")));
        fs::rename(saves / "New World/new.png", saves / "New World/icon.png");
        app.find<QAction>("actionRefresh").trigger();
        QTRY_VERIFY(app.controller().worlds()->isComplete());
        QCOMPARE(iconColour(0), QColor(Qt::blue));

        // The list follows the folder, by View > Refresh at once and by its watch soon after; the
        // chosen world stays chosen while it is there.
        makeWorld("C");
        app.find<QAction>("actionRefresh").trigger(); // before the watch could have seen anything
        QVERIFY(shown(app).contains("C"));
        makeWorld("D");
        QTRY_VERIFY(shown(app).contains("D"));
        makeWorld("New World (1)", "Keep", now); // the game saves it
        QTRY_VERIFY(shown(app).contains("Keep (New World (1)) | Today"));
        QCOMPARE(app.controller().selectedWorld(), std::optional<std::string>("New World (1)"));
        fs::remove_all(saves / "New World (1)");
        app.find<QAction>("actionRefresh").trigger();
        QCOMPARE(app.controller().selectedWorld(), std::nullopt);
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
        QTRY_VERIFY(app.controller().worlds()->isComplete());
        QTest::keySequence(&app.window(), QKeySequence::Find);
        QTest::keyClicks(QApplication::focusWidget(), typed);
        QCOMPARE(listPlace(app).remove(QRegularExpression(" \\| [^,]*")), place);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QCOMPARE(app.controller().selectedWorld().value_or(""), chosenByDown.toStdString());
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
        QTRY_COMPARE(plain(app.find<QLabel>("serverStatusLabel").text()), line);
        QCOMPARE(app.find<QListView>("worldList").model()->index(0, 0).data(onServerRole).toInt(),
                 islandMark);
    }

    void findsTheLaunchersAndRemembersTheChosenOne() {
        const fs::path prism = home / "data/PrismLauncher/instances";
        const std::string flat =
            ".var/app/org.prismlauncher.PrismLauncher/data/PrismLauncher/instances/f/";
        buildTree(prism,
                  {"f:a1/instance.cfg=[General]\nname=Survival Größe 世界\n",
                   "d:a1/minecraft/saves/Island",
                   "f:b2/instance.cfg=name=\"Old & \\\"quoted\\\"\"\n", "d:b2/.minecraft/saves",
                   "d:No Config/minecraft/saves", "f:Unplayed/instance.cfg=name=Unplayed\n",
                   "d:Unplayed/minecraft", "l:Zz Linked/minecraft>../a1/minecraft"});
        buildTree(home,
                  {"d:.minecraft/saves/Home World",
                   "d:.var/app/com.mojang.Minecraft/.minecraft/saves",
                   "f:" + flat + "instance.cfg=name=Flat\n", "d:" + flat + "minecraft/saves"});
        App app;
        app.launch();
        QMenu& savesMenu = app.find<QMenu>("menuSavesFolder");
        QCOMPARE(menuShown(savesMenu),
                 (QStringList{"[x] Game launcher", "Game launcher (Flatpak)",
                              "Prism Launcher: No Config", "Prism Launcher: Old && \"quoted\"",
                              "Prism Launcher: Survival Größe 世界",
                              "Prism Launcher (Flatpak): Flat", "", "&Other Folder…"}));
        savesMenu.actions().at(4)->trigger(); // the Survival instance
        QCOMPARE(shown(app), QStringList{"Island"});
        QCOMPARE(app.find<QToolButton>("savesSourceButton").text(),
                 "Prism Launcher: Survival Größe 世界");

        const auto restart = [&] {
            App restarted(app.dir.filePath("prefs.ini"));
            restarted.launch();
            return shown(restarted);
        };
        QCOMPARE(restart(), QStringList{"Island"});
        fs::remove_all(prism / "a1/minecraft");
        QCOMPARE(restart(), QStringList{"Home World"});

        const fs::path other = home / "elsewhere";
        fs::create_directories(other / "Far World");
        app.dialogs.folderAnswers = {other.string()};
        app.find<QAction>("actionOtherSavesFolder").trigger();
        QCOMPARE(shown(app), QStringList{"Far World"});
        QVERIFY(menuShown(savesMenu).contains("[x] " + QDir::toNativeSeparators(other.c_str())));
    }

    // Tab goes from the search (Alt+W) to the worlds, the server folder and on to the buttons, Copy
    // before Quit. The button's Copy (Alt+C) answered Esc changes nothing; Enter on the world,
    // answered Replace, puts the world in place and points the server at it. An archive dropped on
    // the window lists its worlds by their names in level.dat, the source line names it, and Copy
    // deploys the chosen one from it; the saves folder puts the list back.
    void copiesThroughTheWindow() {
        const fs::path server = home / "server";
        const fs::path archive = home / "Downloads/Sky Map.zip";
        buildTree(saves / "Island", sampleWorld);
        buildTree(server, {"f:server.properties=level-name=world\n", "f:Island/level.dat=old"});
        writeFile(archive, makeArchive("zip", {"f:Sky Map/MyMap/level.dat=" +
                                                   gzip(levelNbt("Sky", 0, 0, false, "1.21")),
                                               "f:Sky Map/MyMap/region/r.0.0.mca=r"}));
        Testing::TestApp<PosixFileSystem, ClickingDialogs> app;
        app.controller().settings().setServerFolder(server.string());
        app.dialogs.answers = {QStringLiteral("Esc"), QStringLiteral("Replace")};
        QVERIFY(showActive(app.window()));
        app.launch();
        QTest::keySequence(&app.window(), QKeySequence("Alt+W"));
        for (const char* name : {"searchEdit", "worldList", "serverFolderEdit",
                                 "chooseServerButton", "copyButton", "quitButton"}) {
            QCOMPARE(QApplication::focusWidget()->objectName(), QString(name));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        app.controller().worlds()->select("Island");
        QTest::keySequence(&app.window(), QKeySequence("Alt+C"));
        const Alert prompt = replacePrompt({"Island"}, server.string(), false);
        QTRY_COMPARE(app.dialogs.seen, Alerts{prompt});
        QTest::keyClick(&app.find<QListView>("worldList"), Qt::Key_Return);
        QCOMPARE(app.dialogs.seen, (Alerts{prompt, prompt, worldCopied}));
        QCOMPARE(snapshotTree(server / "Island"), snapshotTree(saves / "Island"));
        QCOMPARE(entries(server), (std::vector<std::string>{"Island", "server.properties",
                                                            "server.properties.backup"}));

        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(archive.string()))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&app.window(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&app.window(), &drop);
        QTRY_COMPARE(app.controller().archive(), archive.string());
        QCOMPARE(shown(app), QStringList{"Sky (MyMap)"});
        QCOMPARE(app.find<QToolButton>("savesSourceButton").text(), QStringLiteral("Sky Map.zip"));
        app.controller().worlds()->select("MyMap");
        app.controller().copy();
        QCOMPARE(app.dialogs.seen, (Alerts{prompt, prompt, worldCopied, worldCopied}));
        QCOMPARE(readFile(server / "MyMap/region/r.0.0.mca"), std::string("r"));
        QCOMPARE(readFile(server / "server.properties"), std::string("level-name=MyMap\n"));
        app.controller().useSavesFolder(saves);
        QCOMPARE(app.controller().archive(), std::string());
        QCOMPARE(shown(app), QStringList{"Island"});
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
    // shown exactly, blanks and all; the chooser opening where the user is: home, the nearest
    // folder left above the one in use, or that one. The window's size and the world chosen as the
    // window closed: all open the next run.
    void remembersAcrossARestart() {
        makeWorld("A");
        makeWorld("B");
        const std::string server = (home / "server").string();
        const QString odd = QString::fromStdString(server + "/ Größe 世界 ");
        fs::create_directories(server);
        QTemporaryDir dir;
        const QString prefsFile = dir.filePath(QStringLiteral("prefs.ini"));
        {
            App app(prefsFile);
            QVERIFY(showActive(app.window()));
            app.launch();
            QCOMPARE(serverFolder(app), QStringList(2, QString()));
            app.dialogs.folderAnswers = {odd.toStdString(), std::nullopt, ""};
            // Choose… (Alt+O) offers this computer, another one, and the folders used before.
            QMenu& choices = *app.find<QPushButton>("chooseServerButton").menu();
            QCOMPARE(menuShown(choices),
                     (QStringList{"This Computer…", "Another Computer (SSH)…"}));
            QTimer::singleShot(0, &app.window(), [&choices] {
                QVERIFY(QApplication::activePopupWidget() == &choices);
                choices.close();
                choices.actions().at(0)->trigger();
            });
            QTest::keySequence(&app.window(), QKeySequence("Alt+O"));
            QTRY_COMPARE(serverFolder(app), QStringList(2, odd));
            app.find<QAction>("actionChooseServer").trigger(); // cancelled
            fs::create_directories(odd.toStdString());
            app.find<QAction>("actionChooseServer").trigger(); // accepted with no folder
            QVERIFY(app.dialogs.folderAnswers.empty() && app.dialogs.alerts.empty());
            QCOMPARE(app.dialogs.chooserStarts,
                     (std::vector{home.string(), server, odd.toStdString()}));
            app.dialogs.folderAnswers = {"/srv/other"};
            app.find<QAction>("actionChooseServer").trigger();
            QCOMPARE(menuShown(choices).mid(2), (QStringList{"Used Before", odd}));
            choices.actions().at(3)->trigger();
            QCOMPARE(serverFolder(app), QStringList(2, odd));
            app.window().resize(900, 500);
            app.controller().worlds()->select("B");
            app.window().close();
        }
        App restarted(prefsFile);
        restarted.launch();
        QCOMPARE(serverFolder(restarted), QStringList(2, odd));
        QCOMPARE(restarted.window().size(), QSize(900, 500));
        QCOMPARE(restarted.controller().selectedWorld(), std::optional<std::string>("B"));
        // Ten kept at most, the latest first, each once.
        Settings& settings = restarted.controller().settings();
        for (int i = 1; i <= 10; ++i) {
            settings.setServerFolder("/" + std::to_string(i));
        }
        const auto stored =
            restarted.prefs.stringForKey(std::string(Settings::recentServerFoldersKey));
        QCOMPARE(
            QJsonDocument::fromJson(QByteArray::fromStdString(stored.value_or(""))).array().size(),
            10);
        settings.setServerFolder("/2");
        QCOMPARE(settings.recentServerFolders(),
                 (std::vector<std::string>{"/2", "/10", "/9", "/8", "/7", "/6", "/5", "/4", "/3",
                                           "/1"}));
    }

    // A dialog only for long work, modal, whose Cancel stops the work, while the main thread goes
    // on; a failure of the work reaches the caller.
    void showsProgressOnlyForLongWork() {
        // What the user saw of the dialog, once it showed progress; Cancel is pressed then.
        QString shown;
        int ticks = 0;
        // Were the main thread held up while the work runs, this would run at most once, after it.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            ++ticks;
            auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
            if (dialog != nullptr && dialog->isVisible() && dialog->value() > 0 &&
                shown.isEmpty()) {
                shown = dialog->labelText() + " | " + QString::number(dialog->value()) + "/1000" +
                        (dialog->windowModality() == Qt::ApplicationModal ? ", modal" : "");
                dialog->findChild<QPushButton*>()->click(); // its only button, Cancel
            }
        });
        poll.start(10);
        // Whether the work was stopped; a long one runs until Cancel, the time only bounds a
        // failure.
        const auto stoppedWork = [](int workMs) {
            bool stopped = false;
            const QDeadlineTimer deadline(workMs);
            QtDialogs().runWithProgress("Copying “World”", [&](const WorkProgressReport& report) {
                while (!stopped && !deadline.hasExpired()) {
                    // Three of ten files and a quarter of the bytes.
                    stopped = !report({3, 10, 1024 * 1024, 4 * 1024 * 1024});
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
            });
            return stopped;
        };
        QVERIFY(!stoppedWork(300) && shown.isEmpty());
        QVERIFY(ticks >= 10);
        QVERIFY(stoppedWork(20000));
        QCOMPARE(shown, "Copying “World”\n3 of 10 files, 1.00 MiB of 4.00 MiB | 250/1000, modal");
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 QtDialogs().runWithProgress("Copying", [](const auto&) {
                                     throw std::runtime_error("disk gone");
                                 }));
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
