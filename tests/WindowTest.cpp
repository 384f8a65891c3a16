// The main window: what a launch shows, the server folder's round trip through the chooser and a
// restart, a copy clicked through real message boxes, the progress of long work, quitting; each by
// mouse, menu and keys.
#include "app/QtDialogs.h"
#include "settings/Settings.h"
#include "support/TestApp.h"

#include <QTest>
#include <QtWidgets>
#include <stdexcept>
#include <thread>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using App = TestApp<>;
using Layout = std::vector<std::string>;
Q_DECLARE_METATYPE(Layout)

namespace {

fs::path home;
constexpr int replace = alertFirstButtonReturn;
constexpr int cancel = alertFirstButtonReturn + 1;

// Where the game keeps its worlds, spelled out here so that a wrong path in the app shows.
fs::path saves() {
#ifdef Q_OS_MACOS
    return home / "Library/Application Support/minecraft/saves";
#else
    return home / ".minecraft/saves";
#endif
}

// The three places the server folder lives in during a run: remembered, shown and in use.
QStringList places(App& app) {
    return {QString::fromStdString(getPrefs(app.prefs)),
            app.find<QLineEdit>("txtServerPath").text(),
            QString::fromStdString(globalServerPath().value_or("unset"))};
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
            QVERIFY(box != nullptr);
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

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { home = isolateHome(); }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    // The next launch starts afresh.
    void cleanup() {
        fs::remove_all(saves());
        globalFullPath() = std::string();
        globalServerPath() = std::string();
    }

    // Only the visible folders directly inside the saves folder, named exactly as on disk: no
    // files, no hidden folders, no links, nothing nested; the saves folder is never created.
    void listsTheWorldsWithNoneSelected_data() {
        QTest::addColumn<Layout>("layout");
        QTest::addColumn<QStringList>("worlds");
        QTest::addColumn<QString>("placeholder");
        QTest::newRow("worlds found")
            << Layout{"d:World",   "d:Castle.bak",     "d: Welt Größe 世界 ", "d:Outer/Inner",
                      "d:.hidden", "f:notes.txt=data", "l:Link>World"}
            << QStringList{" Welt Größe 世界 ", "Castle.bak", "Outer", "World"} << "Choose a world";
        QTest::newRow("nothing but files")
            << Layout{"f:level.dat=x", "d:.hidden"} << QStringList{} << "No worlds found";
        QTest::newRow("no saves folder") << Layout{} << QStringList{} << "No worlds found";
    }

    void listsTheWorldsWithNoneSelected() {
        QFETCH(Layout, layout);
        QFETCH(QStringList, worlds);
        QFETCH(QString, placeholder);
        if (!layout.empty()) {
            buildTree(saves(), layout);
        }
        App app;
        app.launch();

        auto& list = app.find<QComboBox>("worldList");
        QStringList listed;
        for (int i = 0; i < list.count(); ++i) {
            listed << list.itemText(i);
        }
        listed.sort(); // in the folder's own order
        QCOMPARE(listed, worlds);
        QCOMPARE(list.currentIndex(), -1);
        QCOMPARE(list.placeholderText(), placeholder);
        QCOMPARE(globalFullPath(), std::optional(saves().string()));
        QCOMPARE(fs::exists(saves()), !layout.empty());
        QVERIFY(app.dialogs.alerts.empty());
    }

    // The button's Copy (pressed by Alt+C) answered Esc changes nothing; the menu's answered
    // Replace puts the world in place and points the server at it.
    void copiesThroughTheWindow() {
        const fs::path server = home / "Game Server";
        buildTree(saves() / "Island", sampleWorld);
        buildTree(server, {"f:server.properties=level-name=world\n", "f:Island/level.dat=old"});
        Testing::TestApp<PosixFileSystem, ClickingDialogs> app;
        app.prefs.setString(serverPathConst(), server.string());
        app.dialogs.answers = {QStringLiteral("Esc"), QStringLiteral("Replace")};
        QVERIFY(showActive(app.window()));
        app.launch();
        auto& list = app.find<QComboBox>("worldList");
        list.setCurrentIndex(list.findText(QStringLiteral("Island")));
        // The copy lock comes and goes, which changes only the server folder's own time.
        const auto contents = [&] {
            Snapshot items = snapshotTree(server);
            items.erase("");
            return items;
        };
        const Snapshot before = contents();

        QTest::keySequence(&app.window(), QKeySequence("Alt+C"));
        QTRY_COMPARE(app.dialogs.seen, Alerts{worldExists});
        QCOMPARE(contents(), before);

        app.find<QAction>("actionCopy").trigger();
        QCOMPARE(app.dialogs.seen, (Alerts{worldExists, worldExists, worldCopied}));
        // Esc answers as the last button; the others as the order they were given in.
        QCOMPARE(app.dialogs.given, (std::vector{cancel, replace, replace}));
        QCOMPARE(snapshotTree(server / "Island"), snapshotTree(saves() / "Island"));
        QCOMPARE(readFile(server / "server.properties"), std::string("level-name=Island\n"));
        QCOMPARE(entries(server), (std::vector<std::string>{"Island", "server.properties",
                                                            "server.properties.backup"}));
    }

    // The chooser opens where the user is: the folder in use, the nearest one left above it, or
    // home.
    void chooserOpensAtTheFolderInUse() {
        const std::string server = (home / "server").string();
        fs::create_directories(server);
        App app;
        for (const auto& [inUse, opensAt] : std::vector<std::pair<std::string, std::string>>{
                 {server, server}, {server + "/gone/deeper", server}, {"", home.string()}}) {
            globalServerPath() = inUse;
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
        QVERIFY(endsTheRun([&] { app.find<QAbstractButton>("quitButton").click(); }));
    }

    // Chosen by button (Alt+O) or menu, kept through a cancelled choice, remembered over a restart,
    // and shown exactly, blanks and all.
    void serverFolderGoesToAllThreePlacesAndOutlivesARestart() {
        const QString odd = QStringLiteral(" /home/me/Mein Server/Größe 世界 ");
        QTemporaryDir dir;
        const QString prefsFile = dir.filePath(QStringLiteral("prefs.ini"));
        {
            globalServerPath() = "/left over";
            App app(prefsFile);
            QVERIFY(showActive(app.window()));
            app.launch();
            QCOMPARE(places(app), QStringList(3, QString()));

            app.dialogs.folderAnswers = {odd.toStdString(), std::nullopt, ""};
            QTest::keySequence(&app.window(), QKeySequence("Alt+O"));
            QTRY_COMPARE(places(app), QStringList(3, odd));
            app.find<QAction>("actionChooseServer").trigger(); // cancelled
            app.find<QAction>("actionChooseServer").trigger(); // accepted with no folder
            QCOMPARE(places(app), QStringList(3, odd));
            QVERIFY(app.dialogs.folderAnswers.empty()); // the chooser ran three times
            QVERIFY(app.dialogs.alerts.empty());
        }
        globalServerPath() = std::string();
        App restarted(prefsFile);
        restarted.launch();
        QCOMPARE(places(restarted), QStringList(3, odd));
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
