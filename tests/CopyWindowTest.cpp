#include "app/AppDelegate.h"
#include "app/MainInterface.h"
#include "platform/PosixFileSystem.h"
#include "platform/QtDialogs.h"
#include "platform/QtPreferences.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"
#include "support/TreeSnapshot.h"
#include "ui_MainWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

using namespace Plovermantle;
namespace fs = std::filesystem;

namespace {

fs::path home;

// One alert as the user saw it: "message|informative|buttons".
QString describe(const QMessageBox& box) {
    QStringList buttons;
    for (const QAbstractButton* button : box.buttons()) {
        buttons << button->text();
    }
    return box.text() + "|" + box.informativeText() + "|" + buttons.join(',');
}

// Answers every alert the app shows, as a user would: it waits for the modal box to appear,
// notes what it says and presses the button the script names.
class AlertAnswerer : public QObject {
public:
    explicit AlertAnswerer(QStringList answers) : answers_(std::move(answers)) {
        connect(&poll_, &QTimer::timeout, this, &AlertAnswerer::look);
        poll_.start(10);
    }

    QStringList seen;

private:
    void look() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || box == last_ || !box->isVisible()) {
            return;
        }
        last_ = box;
        seen << describe(*box);
        const QString answer = answers_.isEmpty() ? QStringLiteral("OK") : answers_.takeFirst();
        if (answer == QLatin1String("Esc")) {
            QTest::keyClick(box, Qt::Key_Escape);
            return;
        }
        for (QAbstractButton* button : box->buttons()) {
            if (button->text().remove('&') == answer) {
                QTest::mouseClick(button, Qt::LeftButton);
                return;
            }
        }
        seen << "no button " + answer;
        box->reject();
    }

    QStringList answers_;
    QTimer poll_;
    QPointer<QMessageBox> last_;
};

const QString worldExists = "World exists!|Do you want to replace?|Replace,Cancel";
const QString worldCopied = "World copied.|Be sure to restart the server.|OK";

// The real app: its window, the disk, QSettings in a file of the test's and real message boxes.
struct App {
    explicit App(const fs::path& serverFolder)
        : prefs(dir.filePath(QStringLiteral("prefs.ini"))), interface({files, prefs, dialogs}) {
        prefs.setString(serverPathConst(), serverFolder.string());
        interface.window().show();
        interface.delegate().applicationDidFinishLaunching();
    }

    void select(const QString& world) {
        QComboBox& list = *interface.ui().worldList;
        list.setCurrentIndex(list.findText(world));
    }

    QTemporaryDir dir;
    PosixFileSystem files;
    QtPreferences prefs;
    QtDialogs dialogs;
    MainInterface interface;
};

} // namespace

class CopyWindowTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { home = Testing::isolateHome(); }

private slots:
    void init() {
        Testing::buildTree(home / ".minecraft/saves/Island",
                           {"f:level.dat=new level", "f:region/r.0.0.mca=new region",
                            "l:latest>level.dat", "d:DIM1"});
        Testing::buildTree(server, {"f:server.properties=level-name=world\n",
                                    "f:Island/level.dat=old level", "f:Island/old.dat=old"});
    }

    void cleanup() {
        fs::remove_all(home / ".minecraft");
        fs::remove_all(server);
        globalFullPath() = std::string();
        globalServerPath() = std::string();
    }

    void copyButtonReplacesTheWorld() {
        App app(server);
        QVERIFY(app.interface.ui().copyButton->isEnabled());
        app.select(QStringLiteral("Island"));
        const auto world = Testing::snapshotTree(home / ".minecraft/saves/Island");

        AlertAnswerer user({QStringLiteral("Replace"), QStringLiteral("OK")});
        QTest::mouseClick(app.interface.ui().copyButton, Qt::LeftButton);

        QCOMPARE(user.seen, (QStringList{worldExists, worldCopied}));
        QCOMPARE(Testing::snapshotTree(server / "Island"), world);
        QCOMPARE(Testing::readFile(server / "server.properties"),
                 std::string("level-name=Island\n"));
        QCOMPARE(Testing::readFile(server / "server.properties.backup"),
                 std::string("level-name=world\n"));
        QCOMPARE(Testing::workingFoldersIn(server), std::vector<std::string>{});
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }

    void menuCopyCanBeCancelled_data() {
        QTest::addColumn<QString>("answer");
        QTest::newRow("Cancel button") << "Cancel";
        QTest::newRow("Escape key") << "Esc";
    }

    void menuCopyCanBeCancelled() {
        QFETCH(QString, answer);
        App app(server);
        QVERIFY(app.interface.ui().actionCopy->isEnabled());
        app.select(QStringLiteral("Island"));
        const auto before = Testing::snapshotTree(server);

        AlertAnswerer user({answer});
        app.interface.ui().actionCopy->trigger();

        QCOMPARE(user.seen, QStringList{worldExists});
        QCOMPARE(Testing::snapshotTree(server), before);
        QVERIFY(!fs::exists(server / "server.properties.backup"));
    }

private:
    fs::path server = home / "Game Server";
};

QTEST_MAIN(CopyWindowTest)
#include "CopyWindowTest.moc"
