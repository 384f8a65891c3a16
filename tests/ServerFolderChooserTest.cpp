#include "app/AppDelegate.h"
#include "app/MainInterface.h"
#include "platform/PosixFileSystem.h"
#include "platform/QtPreferences.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"
#include "ui_MainWindow.h"

#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

using namespace Plovermantle;

namespace {

struct Window {
    explicit Window(const QString& prefsFile)
        : prefs(prefsFile), interface({files, prefs, dialogs}) {
        interface.delegate().applicationDidFinishLaunching();
    }

    // The three places the server folder lives in during a run.
    struct Places {
        std::string remembered;
        QString shown;
        std::optional<std::string> current;
        bool operator==(const Places&) const = default;
    };
    Places places() {
        return {getPrefs(prefs), interface.ui().txtServerPath->text(), globalServerPath()};
    }

    PosixFileSystem files;
    QtPreferences prefs;
    Testing::RecordingDialogs dialogs;
    MainInterface interface;
};

} // namespace

class ServerFolderChooserTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString prefsFile() const { return dir.filePath(QStringLiteral("prefs.ini")); }

public:
    static void initMain() { Testing::isolateHome(); }

private slots:
    void init() {
        QFile::remove(prefsFile());
        globalServerPath() = std::string();
    }

    void acceptedFolderGoesToAllThreePlaces_data() {
        QTest::addColumn<QString>("chosen");
        QTest::newRow("plain") << QStringLiteral("/srv/server");
        QTest::newRow("spaces and non-ASCII") << QStringLiteral("/home/me/Mein Server/Größe 世界");
        QTest::newRow("not a server folder at all") << QStringLiteral("/");
    }

    void acceptedFolderGoesToAllThreePlaces() {
        QFETCH(QString, chosen);
        Window window(prefsFile());
        window.dialogs.folderAnswers = {chosen.toStdString()};

        QTest::mouseClick(window.interface.ui().chooseServerButton, Qt::LeftButton);
        QCOMPARE(window.dialogs.folderChooserRuns, 1);
        QVERIFY(window.places() ==
                (Window::Places{chosen.toStdString(), chosen, chosen.toStdString()}));
        QVERIFY(window.dialogs.alerts.empty());
    }

    void cancelChangesNothing_data() {
        QTest::addColumn<std::optional<std::string>>("answer");
        QTest::newRow("cancelled") << std::optional<std::string>();
        QTest::newRow("accepted with no folder") << std::optional<std::string>("");
    }

    void cancelChangesNothing() {
        QFETCH(std::optional<std::string>, answer);
        Window window(prefsFile());
        window.dialogs.folderAnswers = {"/srv/before"};
        window.interface.delegate().setServerPath();
        const auto before = window.places();

        window.dialogs.folderAnswers = {answer};
        window.interface.ui().actionChooseServer->trigger();
        QCOMPARE(window.dialogs.folderChooserRuns, 2);
        QVERIFY(window.places() == before);
        QVERIFY(window.dialogs.alerts.empty());
    }

    void secondChoiceWinsAndOutlivesARestart() {
        {
            Window window(prefsFile());
            window.dialogs.folderAnswers = {"/srv/first", "/srv/second"};
            window.interface.delegate().setServerPath();
            window.interface.delegate().setServerPath();
            QVERIFY(window.places() ==
                    (Window::Places{"/srv/second", QStringLiteral("/srv/second"), "/srv/second"}));
        }
        globalServerPath() = std::string();
        Window restarted(prefsFile());
        QVERIFY(restarted.places() ==
                (Window::Places{"/srv/second", QStringLiteral("/srv/second"), "/srv/second"}));
    }

    void choosingTheSameFolderAgainStoresItAgain() {
        Window window(prefsFile());
        window.dialogs.folderAnswers = {"/srv/same"};
        window.interface.delegate().setServerPath();
        // Something outside the app changed the stored value; choosing again must write it back.
        QtPreferences(prefsFile()).setString("serverPathKey", "/elsewhere");
        window.dialogs.folderAnswers = {"/srv/same"};
        window.interface.delegate().setServerPath();
        QCOMPARE(getPrefs(*std::make_unique<QtPreferences>(prefsFile())), std::string("/srv/same"));
    }
};

QTEST_MAIN(ServerFolderChooserTest)
#include "ServerFolderChooserTest.moc"
