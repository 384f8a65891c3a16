// The launch sequence and the server folder's round trip: chosen, remembered, shown at the next
// launch.
#include "settings/Settings.h"
#include "support/TestApp.h"

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
struct Places {
    std::string remembered;
    QString shown;
    std::optional<std::string> current;
    bool operator==(const Places&) const = default;
};

Places places(App& app) {
    return {getPrefs(app.prefs), app.ui().txtServerPath->text(), globalServerPath()};
}

Places everywhere(const QString& folder) {
    return {folder.toStdString(), folder, folder.toStdString()};
}

} // namespace

class LaunchTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { home = Testing::isolateHome(); }

private slots:
    void cleanup() { Testing::forgetLaunch(); }

    void listsTheWorldsWithNoneSelected_data() {
        QTest::addColumn<QStringList>("worlds");
        QTest::addColumn<QString>("placeholder");
        QTest::newRow("worlds found") << QStringList{"Alpha", "Beta World"} << "Choose a world";
        QTest::newRow("no saves folder") << QStringList{} << "No worlds found";
    }

    void listsTheWorldsWithNoneSelected() {
        QFETCH(QStringList, worlds);
        QFETCH(QString, placeholder);
        for (const QString& world : worlds) {
            fs::create_directories(saves() / world.toStdString());
        }
        App app;
        app.launch();

        QComboBox& list = *app.ui().worldList;
        QStringList listed;
        for (int i = 0; i < list.count(); ++i) {
            listed << list.itemText(i);
        }
        listed.sort();
        QCOMPARE(listed, worlds);
        QCOMPARE(list.currentIndex(), -1);
        QVERIFY(!app.interface.delegate().selectedWorld().has_value());
        QCOMPARE(list.placeholderText(), placeholder);
        // Where the worlds were looked for is the first thing to check when one is missing.
        QVERIFY2(list.toolTip().contains(QString::fromStdString(saves())),
                 qPrintable(list.toolTip()));
        QCOMPARE(globalFullPath(), std::optional(saves().string()));
        QCOMPARE(fs::exists(saves()), !worlds.isEmpty()); // looked at, never created
        QVERIFY(app.dialogs.alerts.empty());

        if (!worlds.isEmpty()) {
            list.setCurrentIndex(list.findText(worlds.last()));
            QCOMPARE(app.interface.delegate().selectedWorld(),
                     std::optional(worlds.last().toStdString()));
        }
    }

    void quitFromMenuOrButtonEndsTheRun() {
        App app;
        app.window().show();
        QSignalSpy aboutToQuit(qApp, &QCoreApplication::aboutToQuit);
        // A quit that does nothing would otherwise hang the test rather than fail it.
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        for (const std::function<void()>& quit :
             {std::function<void()>([&] { app.ui().actionQuit->trigger(); }),
              std::function<void()>([&] { app.ui().quitButton->click(); })}) {
            QTimer::singleShot(0, quit);
            watchdog.start(5000);
            QCOMPARE(QApplication::exec(), 0);
        }
        QCOMPARE(aboutToQuit.count(), 2);
        QVERIFY(app.dialogs.alerts.empty());
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
            QVERIFY(places(app) == everywhere(QString()));

            app.dialogs.folderAnswers = {"/srv/first", odd.toStdString(), std::nullopt, ""};
            QTest::mouseClick(app.ui().chooseServerButton, Qt::LeftButton);
            QVERIFY(places(app) == everywhere(QStringLiteral("/srv/first")));
            app.ui().actionChooseServer->trigger();
            QVERIFY(places(app) == everywhere(odd));
            app.ui().actionChooseServer->trigger(); // cancelled
            app.ui().actionChooseServer->trigger(); // accepted with no folder
            QVERIFY(places(app) == everywhere(odd));
            QCOMPARE(app.dialogs.folderChooserRuns, 4);
            QVERIFY(app.dialogs.alerts.empty());
        }
        globalServerPath() = std::string();
        App restarted(prefsFile);
        restarted.launch();
        QVERIFY(places(restarted) == everywhere(odd));
    }
};

QTEST_MAIN(LaunchTest)
#include "LaunchTest.moc"
