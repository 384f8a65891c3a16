// The main window: what a launch shows, the server folder's round trip through the chooser and a
// restart, quitting; and as a keyboard user meets it: tab order, mnemonics and shortcuts.
#include "settings/Settings.h"
#include "support/TestApp.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace Plovermantle;
namespace fs = std::filesystem;
using App = Testing::TestApp<>;

namespace {

fs::path home;

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
bool showActive(App& app) {
    app.window().show();
    QApplication::setActiveWindow(&app.window());
    return QTest::qWaitForWindowActive(&app.window());
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { home = Testing::isolateHome(); }

private slots:
    // The next launch starts afresh.
    void cleanup() {
        fs::remove_all(saves());
        globalFullPath() = std::string();
        globalServerPath() = std::string();
    }

    // Only the visible folders directly inside the saves folder, named exactly as on disk: no
    // files, no hidden folders, no links, nothing nested; the saves folder is never created.
    void listsTheWorldsWithNoneSelected_data() {
        QTest::addColumn<QStringList>("layout");
        QTest::addColumn<QStringList>("worlds");
        QTest::addColumn<QString>("placeholder");
        QTest::newRow("worlds found")
            << QStringList{"d:World",   "d:Castle.bak",     "d: Welt Größe 世界 ", "d:Outer/Inner",
                           "d:.hidden", "f:notes.txt=data", "l:Link>World"}
            << QStringList{" Welt Größe 世界 ", "Castle.bak", "Outer", "World"} << "Choose a world";
        QTest::newRow("nothing but files")
            << QStringList{"f:level.dat=x", "d:.hidden"} << QStringList{} << "No worlds found";
        QTest::newRow("no saves folder") << QStringList{} << QStringList{} << "No worlds found";
    }

    void listsTheWorldsWithNoneSelected() {
        QFETCH(QStringList, layout);
        QFETCH(QStringList, worlds);
        QFETCH(QString, placeholder);
        if (!layout.isEmpty()) {
            std::vector<std::string> tree;
            for (const QString& entry : layout) {
                tree.push_back(entry.toStdString());
            }
            Testing::buildTree(saves(), tree);
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
        QCOMPARE(fs::exists(saves()), !layout.isEmpty());
        QVERIFY(app.dialogs.alerts.empty());
    }

    void quitFromMenuOrButtonEndsTheRun() {
        App app;
        app.window().show();
        const auto endsTheRun = [&](auto quit) {
            QTimer::singleShot(0, &app.window(), quit);
            // A quit that does nothing would otherwise hang the test rather than fail it.
            QTimer::singleShot(5000, &app.window(), [] { QCoreApplication::exit(1); });
            return QApplication::exec() == 0;
        };
        QVERIFY(endsTheRun([&] { app.find<QAction>("actionQuit").trigger(); }));
        QVERIFY(endsTheRun([&] { app.find<QAbstractButton>("quitButton").click(); }));
    }

    // Chosen by button or menu, kept through a cancelled choice, remembered over a restart, and
    // shown exactly, blanks and all.
    void serverFolderGoesToAllThreePlacesAndOutlivesARestart() {
        const QString odd = QStringLiteral(" /home/me/Mein Server/Größe 世界 ");
        QTemporaryDir dir;
        const QString prefsFile = dir.filePath(QStringLiteral("prefs.ini"));
        {
            globalServerPath() = "/left over";
            App app(prefsFile);
            app.launch();
            QCOMPARE(places(app), QStringList(3, QString()));

            app.dialogs.folderAnswers = {odd.toStdString(), std::nullopt, ""};
            QTest::mouseClick(&app.find<QAbstractButton>("chooseServerButton"), Qt::LeftButton);
            QCOMPARE(places(app), QStringList(3, odd));
            app.find<QAction>("actionChooseServer").trigger(); // cancelled
            app.find<QAction>("actionChooseServer").trigger(); // accepted with no folder
            QCOMPARE(places(app), QStringList(3, odd));
            QCOMPARE(app.dialogs.folderChooserRuns, 3);
            QVERIFY(app.dialogs.alerts.empty());
        }
        globalServerPath() = std::string();
        App restarted(prefsFile);
        restarted.launch();
        QCOMPARE(places(restarted), QStringList(3, odd));
    }

    void tabOrderFollowsTheReadingOrder() {
        App app;
        QVERIFY(showActive(app));
        QStringList chain;
        QWidget* first = &app.find<QWidget>("worldList");
        first->setFocus(Qt::TabFocusReason);
        do {
            chain << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        } while (QApplication::focusWidget() != first && chain.size() < 20);
        QCOMPARE(chain, (QStringList{"worldList", "txtServerPath", "chooseServerButton",
                                     "quitButton", "copyButton"}));
    }

    // Mnemonics focus a field or press a button; shortcuts trigger their menu's action.
    void keysReachTheirControls_data() {
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QByteArray>("signal"); // none for a field, which takes the focus
        const QByteArray clicked(SIGNAL(clicked(bool)));
        QTest::newRow("world label") << QKeySequence("Alt+W") << "worldList" << QByteArray();
        QTest::newRow("server label") << QKeySequence("Alt+S") << "txtServerPath" << QByteArray();
        QTest::newRow("choose") << QKeySequence("Alt+O") << "chooseServerButton" << clicked;
        QTest::newRow("copy") << QKeySequence("Alt+C") << "copyButton" << clicked;
        QTest::newRow("quit shortcut")
            << QKeySequence("Ctrl+Q") << "actionQuit" << QByteArray(SIGNAL(triggered(bool)));
    }

    void keysReachTheirControls() {
        QFETCH(QKeySequence, keys);
        QFETCH(QString, target);
        QFETCH(QByteArray, signal);
        App app;
        QVERIFY(showActive(app));
        QObject& reached = app.find<QObject>(qPrintable(target));
        // Only whether the keys reach the target matters here, not what it does.
        std::optional<QSignalSpy> spy;
        if (!signal.isEmpty()) {
            disconnect(&reached, signal.constData(), nullptr, nullptr);
            spy.emplace(&reached, signal.constData());
        }
        app.find<QWidget>("copyButton").setFocus(); // away from the fields, so a change shows
        QTest::keySequence(&app.window(), keys);
        if (spy) {
            QTRY_COMPARE(spy->count(), 1);
        } else {
            QCOMPARE(QApplication::focusWidget(), &reached);
        }
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
