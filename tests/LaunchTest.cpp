#include "app/AppDelegate.h"
#include "app/MainInterface.h"
#include "platform/PosixFileSystem.h"
#include "platform/QtPreferences.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Plovermantle;
namespace fs = std::filesystem;

namespace {

fs::path home;

fs::path savesFolder() {
    return fs::path(savesFolderPath());
}

QStringList items(const QComboBox& box) {
    QStringList texts;
    for (int i = 0; i < box.count(); ++i) {
        texts << box.itemText(i);
    }
    texts.sort();
    return texts;
}

// One start of the app against a settings file of the test's own.
struct Launch {
    explicit Launch(const QString& prefsFile)
        : prefs(prefsFile), interface({files, prefs, dialogs}) {}

    void run() { interface.delegate().applicationDidFinishLaunching(); }
    Ui::MainWindow& ui() { return interface.ui(); }

    PosixFileSystem files;
    QtPreferences prefs;
    Testing::RecordingDialogs dialogs;
    MainInterface interface;
};

} // namespace

class LaunchTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { home = Testing::isolateHome(); }

private slots:
    void cleanup() {
        fs::remove_all(home / ".minecraft");
        globalFullPath() = std::string();
        globalServerPath() = std::string();
    }

    void showsTheRememberedFolderExactly_data() {
        QTest::addColumn<QString>("remembered");
        QTest::newRow("plain") << QStringLiteral("/srv/minecraft");
        QTest::newRow("spaces and non-ASCII") << QStringLiteral("/home/me/Mein Server/Größe 世界");
        QTest::newRow("blanks around") << QStringLiteral(" /srv/x ");
    }

    void showsTheRememberedFolderExactly() {
        QFETCH(QString, remembered);
        QTemporaryDir dir;
        const QString prefsFile = dir.filePath(QStringLiteral("prefs.ini"));
        QtPreferences(prefsFile).setString("serverPathKey", remembered.toStdString());

        Launch launch(prefsFile);
        launch.run();
        QCOMPARE(launch.ui().txtServerPath->text(), remembered);
        QCOMPARE(globalServerPath(), std::optional(remembered.toStdString()));
        QVERIFY(launch.dialogs.alerts.empty());
    }

    void nothingRememberedLeavesTheFieldAsBuilt() {
        QTemporaryDir dir;
        Launch launch(dir.filePath(QStringLiteral("prefs.ini")));
        const QString textBefore = launch.ui().txtServerPath->text();
        const QString placeholderBefore = launch.ui().txtServerPath->placeholderText();
        globalServerPath() = "/stale";

        launch.run();
        QCOMPARE(launch.ui().txtServerPath->text(), textBefore);
        QCOMPARE(launch.ui().txtServerPath->placeholderText(), placeholderBefore);
        QCOMPARE(globalServerPath(), std::optional(std::string()));
    }

    void listsTheWorldsWithNoneSelected() {
        fs::create_directories(savesFolder() / "Alpha");
        fs::create_directories(savesFolder() / "Beta World");
        fs::create_directories(savesFolder() / ".hidden");
        Testing::writeFile(savesFolder() / "level.dat", "x");

        QTemporaryDir dir;
        Launch launch(dir.filePath(QStringLiteral("prefs.ini")));
        launch.run();

        QComboBox& worlds = *launch.ui().worldList;
        QCOMPARE(items(worlds), (QStringList{"Alpha", "Beta World"}));
        QCOMPARE(worlds.currentIndex(), -1);
        QVERIFY(!launch.interface.delegate().selectedWorld().has_value());
        QCOMPARE(globalFullPath(), std::optional(savesFolder().string()));
        QVERIFY(launch.dialogs.alerts.empty());

        worlds.setCurrentIndex(worlds.findText(QStringLiteral("Beta World")));
        QCOMPARE(launch.interface.delegate().selectedWorld(),
                 std::optional<std::string>("Beta World"));
    }

    void missingSavesFolderGivesAnEmptyListSilently() {
        QTemporaryDir dir;
        Launch launch(dir.filePath(QStringLiteral("prefs.ini")));
        launch.run();

        QCOMPARE(launch.ui().worldList->count(), 0);
        QCOMPARE(globalFullPath(), std::optional(savesFolder().string()));
        QVERIFY(!fs::exists(savesFolder()));
        QVERIFY(launch.dialogs.alerts.empty());
    }

    void quitEndsTheEventLoop() {
        QTemporaryDir dir;
        Launch launch(dir.filePath(QStringLiteral("prefs.ini")));
        launch.interface.window().show();
        QSignalSpy aboutToQuit(qApp, &QCoreApplication::aboutToQuit);

        QTimer::singleShot(0, &launch.interface.delegate(), &AppDelegate::quit);
        // A watchdog: a quit that does nothing would otherwise hang the test rather than fail it.
        bool watchdogFired = false;
        QTimer::singleShot(5000, [&] {
            watchdogFired = true;
            QCoreApplication::exit(1);
        });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!watchdogFired);
        QCOMPARE(aboutToQuit.count(), 1);
        QVERIFY(launch.dialogs.alerts.empty());
    }

    void quitIsReachableFromMenuAndButton() {
        QTemporaryDir dir;
        Launch launch(dir.filePath(QStringLiteral("prefs.ini")));
        QVERIFY(!launch.ui().actionQuit->shortcuts().isEmpty());

        int quits = 0;
        QMetaObject::Connection counting =
            connect(qApp, &QCoreApplication::aboutToQuit, [&] { ++quits; });
        for (auto trigger : {std::function<void()>([&] { launch.ui().actionQuit->trigger(); }),
                             std::function<void()>([&] { launch.ui().quitButton->click(); })}) {
            QTimer::singleShot(0, trigger);
            QTimer::singleShot(5000, [] { QCoreApplication::exit(1); });
            QCOMPARE(QApplication::exec(), 0);
        }
        disconnect(counting);
        QCOMPARE(quits, 2);
    }
};

QTEST_MAIN(LaunchTest)
#include "LaunchTest.moc"
