#include "app/AppDelegate.h"
#include "app/MainInterface.h"
#include "platform/QtPreferences.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"
#include "support/TextFileFaults.h"
#include "ui_MainWindow.h"
#include "worlds/ServerProperties.h"

#include <QApplication>
#include <QComboBox>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>

using namespace Plovermantle;
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

namespace {

fs::path home;

const Alert writeFailed{{},
                        "Error!",
                        "Unable to write server.properties. Yeah, do it yourself...",
                        AlertStyle::Warning};
const Alert unreadable{{},
                       "Error!",
                       "Unable to read server.properties: it is missing, unreadable or not UTF-8 "
                       "text. Nothing was changed.",
                       AlertStyle::Warning};

Names entries(const fs::path& folder) {
    Names names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A server folder whose path holds blanks and non-ASCII letters, with the platform the rewrite runs
// against: the real disk behind a fault injector, recorded alerts and throwaway preferences.
struct Server {
    Server()
        : root(fs::path(dir.path().toStdString()) / "Mein Server Größe"),
          prefs(dir.filePath(QStringLiteral("prefs.ini"))) {
        fs::create_directories(root);
    }

    Platform platform() { return {files, prefs, dialogs}; }
    std::string folder() const { return root.string(); }
    fs::path props() const { return root / "server.properties"; }
    fs::path backup() const { return root / "server.properties.backup"; }
    std::string readCall() const { return "read " + props().string(); }
    std::string backupCall() const { return "write " + backup().string(); }
    std::string propsCall() const { return "write " + props().string(); }

    void run(std::string_view world) { rewriteServerProps(platform(), folder(), world); }

    QTemporaryDir dir;
    fs::path root;
    Testing::TextFileFaults files;
    QtPreferences prefs;
    Testing::RecordingDialogs dialogs;
};

} // namespace

class ServerPropsTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { home = Testing::isolateHome(); }

private slots:
    void backsUpThenRewrites_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("world");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("CRLF, two matches")
            << QByteArray("level-name=a\r\nx=1\r\n#LEVEL-NAME=b\r\n") << QByteArray("Foo")
            << QByteArray("level-name=Foo\nx=1\r\nlevel-name=Foo\n");
        QTest::newRow("no match, written unchanged")
            << QByteArray("motd=hi\n") << QByteArray("Foo") << QByteArray("motd=hi\n");
    }

    void backsUpThenRewrites() {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, world);
        QFETCH(QByteArray, after);
        Server server;
        Testing::writeFile(server.props(), before.toStdString());

        server.run(world.toStdString());
        QCOMPARE(QByteArray::fromStdString(Testing::readFile(server.props())), after);
        QCOMPARE(QByteArray::fromStdString(Testing::readFile(server.backup())), before);
        QCOMPARE(server.files.calls,
                 (Names{server.readCall(), server.backupCall(), server.propsCall()}));
        QVERIFY(server.dialogs.alerts.empty());
        QCOMPARE(entries(server.root), (Names{"server.properties", "server.properties.backup"}));
    }

    void eachRunReplacesTheBackup() {
        Server server;
        Testing::writeFile(server.props(), "level-name=world\n");
        server.run("First");
        server.run("Second");
        QCOMPARE(Testing::readFile(server.backup()), std::string("level-name=First\n"));
        QCOMPARE(Testing::readFile(server.props()), std::string("level-name=Second\n"));
        QVERIFY(server.dialogs.alerts.empty());
    }

    void emptyFileIsBackedUpAndLeftAlone() {
        Server server;
        Testing::writeFile(server.props(), "");
        Testing::writeFile(server.backup(), "older backup");
        server.run("Foo");
        QCOMPARE(Testing::readFile(server.props()), std::string());
        QCOMPARE(Testing::readFile(server.backup()), std::string());
        QCOMPARE(server.files.calls, (Names{server.readCall(), server.backupCall()}));
        QVERIFY(server.dialogs.alerts.empty());
    }

    void unreadableFileChangesNothing_data() {
        QTest::addColumn<QByteArray>("setup");
        QTest::newRow("missing") << QByteArray("missing");
        QTest::newRow("not UTF-8") << QByteArray("latin1");
        QTest::newRow("a folder") << QByteArray("folder");
        QTest::newRow("read fails") << QByteArray("fault");
    }

    void unreadableFileChangesNothing() {
        QFETCH(QByteArray, setup);
        Server server;
        Testing::writeFile(server.backup(), "older backup");
        if (setup == "latin1") {
            Testing::writeFile(server.props(), "motd=Gr\xf6\xdf"
                                               "e\nlevel-name=old\n");
        } else if (setup == "folder") {
            fs::create_directory(server.props());
        } else if (setup == "fault") {
            Testing::writeFile(server.props(), "level-name=old\n");
            server.files.failingReads.insert(server.props().string());
        }
        const Names before = entries(server.root);
        const std::string propsBefore =
            fs::is_regular_file(server.props()) ? Testing::readFile(server.props()) : "";

        server.run("Foo");
        QCOMPARE(server.dialogs.alerts, std::vector<Alert>{unreadable});
        QCOMPARE(server.files.calls, Names{server.readCall()});
        QCOMPARE(entries(server.root), before);
        QCOMPARE(Testing::readFile(server.backup()), std::string("older backup"));
        if (fs::is_regular_file(server.props())) {
            QCOMPARE(Testing::readFile(server.props()), propsBefore);
        }
    }

    void failedBackupLeavesTheFileAlone() {
        Server server;
        const std::string text = "a=1\r\nlevel-name=old\r\n";
        Testing::writeFile(server.props(), text);
        server.files.failingWrites.insert(server.backup().string());

        server.run("Foo");
        QCOMPARE(server.dialogs.alerts, std::vector<Alert>{writeFailed});
        QCOMPARE(server.files.calls, (Names{server.readCall(), server.backupCall()}));
        QCOMPARE(Testing::readFile(server.props()), text);
        QCOMPARE(entries(server.root), Names{"server.properties"});
    }

    void failedRewriteKeepsTheOldTextAndItsBackup() {
        Server server;
        const std::string text = "level-name=old\nb=2";
        Testing::writeFile(server.props(), text);
        server.files.failingWrites.insert(server.props().string());

        server.run("Foo");
        QCOMPARE(server.dialogs.alerts, std::vector<Alert>{writeFailed});
        QCOMPARE(Testing::readFile(server.props()), text);
        QCOMPARE(Testing::readFile(server.backup()), text);
    }

    void symlinkedFileStaysALinkWithItsPermissions() {
        Server server;
        const fs::path shared = server.root.parent_path() / "shared.properties";
        Testing::writeFile(shared, "level-name=old\n");
        using enum fs::perms;
        fs::permissions(shared, owner_read | owner_write | group_read);
        fs::create_symlink("../shared.properties", server.props());

        server.run("Foo");
        QVERIFY(server.dialogs.alerts.empty());
        QVERIFY(fs::is_symlink(server.props()));
        QCOMPARE(fs::read_symlink(server.props()), fs::path("../shared.properties"));
        QCOMPARE(Testing::readFile(shared), std::string("level-name=Foo\n"));
        QCOMPARE(fs::status(shared).permissions(), owner_read | owner_write | group_read);
        QVERIFY(!fs::is_symlink(server.backup()));
        QCOMPARE(Testing::readFile(server.backup()), std::string("level-name=old\n"));
    }

    void delegateNamesTheSelectedWorld() {
        const fs::path saves = savesFolderPath();
        fs::create_directories(saves / "Alpha");
        fs::create_directories(saves / "Welt Größe");
        Server server;
        Testing::writeFile(server.props(), "level-name=world\n");
        MainInterface interface(server.platform());
        interface.delegate().applicationDidFinishLaunching();
        QComboBox& worlds = *interface.ui().worldList;
        worlds.setCurrentIndex(worlds.findText(QStringLiteral("Welt Größe")));

        interface.delegate().replaceServerProps(server.folder());
        QCOMPARE(Testing::readFile(server.props()), std::string("level-name=Welt Größe\n"));
        QCOMPARE(Testing::readFile(server.backup()), std::string("level-name=world\n"));
        QVERIFY(server.dialogs.alerts.empty());
        fs::remove_all(home / ".minecraft");
    }

    void delegateWithoutASelectionWritesNothing() {
        Server server;
        Testing::writeFile(server.props(), "level-name=world\n");
        MainInterface interface(server.platform());

        interface.delegate().replaceServerProps(server.folder());
        QCOMPARE(server.dialogs.alerts, std::vector<Alert>{writeFailed});
        QVERIFY(server.files.calls.empty());
        QCOMPARE(Testing::readFile(server.props()), std::string("level-name=world\n"));
        QCOMPARE(entries(server.root), Names{"server.properties"});
    }
};

QTEST_MAIN(ServerPropsTest)
#include "ServerPropsTest.moc"
