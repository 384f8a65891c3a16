#include "settings/Settings.h"
#include "support/TestApp.h"
#include "support/TextFileFaults.h"
#include "worlds/ServerProperties.h"

#include <QComboBox>
#include <QTest>
#include <filesystem>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
using namespace std::string_view_literals;
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

namespace {

Alert error(const char* text) {
    return Alert{{}, "Error!", text, AlertStyle::Warning};
}
const Alert writeFailed = error("Unable to write server.properties. Yeah, do it yourself...");
const Alert unreadable = error("Unable to read server.properties: it is missing, unreadable or not "
                               "UTF-8 text. Nothing was changed.");

// A server folder whose path holds blanks and non-ASCII letters, on the real disk behind a fault
// injector.
struct Server : TestApp<TextFileFaults> {
    Server() : root(fs::path(dir.path().toStdString()) / "Mein Server Größe") {
        fs::create_directories(root);
    }

    fs::path props() const { return root / "server.properties"; }
    fs::path backup() const { return root / "server.properties.backup"; }
    void run(std::string_view world) { rewriteServerProps(platform(), root.string(), world); }

    fs::path root;
};

} // namespace

class ServerPropsTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { isolateHome(); }

private slots:
    void cleanup() { forgetLaunch(); }

    void rewritesLevelNameLines_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("world");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* name, std::string_view text, std::string_view world,
                            std::string_view expected) {
            QTest::newRow(name) << bytes(text) << bytes(world) << bytes(expected);
        };
        // Which lines match, and what happens to the others.
        row("one among others", "a=1\nlevel-name=old\nb=2\n", "W", "a=1\nlevel-name=W\nb=2\n");
        row("any case", "LEVEL-NAME=Old\n", "W", "level-name=W\n");
        row("anywhere in the line", "#a=level-name=x\n", "W", "level-name=W\n");
        row("blank before equals", "level-name = old\n", "W", "level-name = old\n");
        row("every match", "level-name=a\nx\nlevel-name=b", "W", "level-name=W\nx\nlevel-name=W");
        row("no match, nothing added", "motd=hi\n", "W", "motd=hi\n");
        row("empty lines kept", "\n\nlevel-name=x\n\nb\n\n", "W", "\n\nlevel-name=W\n\nb\n\n");
        row("CRLF elsewhere kept", "a\r\nlevel-name=x\r\nb\r\n", "W", "a\r\nlevel-name=W\nb\r\n");
        row("CR is not a line end", "a=1\rlevel-name=old\rb=2\n", "W", "level-name=W\n");
        row("NULs kept", "a=\0b\nlevel-name=x\0\n\0"sv, "W", "a=\0b\nlevel-name=W\n\0"sv);
        // Names the server reads back as they are, and those it would change unless escaped.
        row("name verbatim", "level-name=x\n", "A = Größe 🌍 ", "level-name=A = Größe 🌍 \n");
        row("backslashes", "level-name=x\nb=2\n", "a\\b\\", "level-name=a\\\\b\\\\\nb=2\n");
        row("line breaks", "level-name=x\nb=2\n", "a\rb\nc", "level-name=a\\rb\\nc\nb=2\n");
        row("leading blanks", "level-name=x\n", "  World", "level-name=\\  World\n");
        row("leading tab", "level-name=x\n", "\tWorld", "level-name=\\\tWorld\n");
        row("leading form feed", "level-name=x\n", "\fWorld", "level-name=\\\fWorld\n");
    }

    void rewritesLevelNameLines() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, world);
        QFETCH(QByteArray, expected);
        QCOMPARE(bytes(rewriteServerPropsText(text.toStdString(), world.toStdString())), expected);
    }

    void backsUpThenRewrites_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("CRLF, two matches") << QByteArray("level-name=a\r\nx=1\r\n#LEVEL-NAME=b\r\n")
                                           << QByteArray("level-name=W\nx=1\r\nlevel-name=W\n");
        QTest::newRow("empty file left empty") << QByteArray() << QByteArray();
    }

    void backsUpThenRewrites() {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        Server server;
        writeFile(server.props(), before.toStdString());
        writeFile(server.backup(), "older backup");

        server.run("W");
        QCOMPARE(bytes(readFile(server.props())), after);
        QCOMPARE(bytes(readFile(server.backup())), before);
        QVERIFY(server.dialogs.alerts.empty());
        QCOMPARE(entries(server.root), (Names{"server.properties", "server.properties.backup"}));
    }

    void unreadableFileChangesNothing_data() {
        QTest::addColumn<QByteArray>("props"); // null for no file at all
        QTest::addColumn<bool>("readFails");
        QTest::newRow("missing") << QByteArray() << false;
        QTest::newRow("not UTF-8") << QByteArray("motd=Gr\xf6\xdf\nlevel-name=old\n") << false;
        QTest::newRow("read fails") << QByteArray("level-name=old\n") << true;
    }

    void unreadableFileChangesNothing() {
        QFETCH(QByteArray, props);
        QFETCH(bool, readFails);
        Server server;
        writeFile(server.backup(), "older backup");
        if (!props.isNull()) {
            writeFile(server.props(), props.toStdString());
        }
        if (readFails) {
            server.files.failingReads.insert(server.props().string());
        }
        const Names before = entries(server.root);

        server.run("W");
        QCOMPARE(server.dialogs.alerts, std::vector<Alert>{unreadable});
        QCOMPARE(server.files.calls, Names{"read " + server.props().string()});
        QCOMPARE(entries(server.root), before);
        QCOMPARE(readFile(server.backup()), std::string("older backup"));
        QCOMPARE(bytes(readFile(server.props())), props);
    }

    void failedBackupLeavesTheFileAlone() {
        Server server;
        const std::string text = "a=1\r\nlevel-name=old\r\n";
        writeFile(server.props(), text);
        server.files.failingWrites.insert(server.backup().string());

        server.run("W");
        QCOMPARE(server.dialogs.alerts, std::vector<Alert>{writeFailed});
        QCOMPARE(server.files.calls,
                 (Names{"read " + server.props().string(), "write " + server.backup().string()}));
        QCOMPARE(readFile(server.props()), text);
        QCOMPARE(entries(server.root), Names{"server.properties"});
    }

    void failedRewriteKeepsTheOldTextAndItsBackup() {
        Server server;
        const std::string text = "level-name=old\nb=2";
        writeFile(server.props(), text);
        server.files.failingWrites.insert(server.props().string());

        server.run("W");
        QCOMPARE(server.dialogs.alerts, std::vector<Alert>{writeFailed});
        QCOMPARE(readFile(server.props()), text);
        QCOMPARE(readFile(server.backup()), text);
    }

    // A shared server.properties stays shared: the link is kept, its file keeps its permissions,
    // and the backup is a file of its own.
    void symlinkedFileStaysALinkWithItsPermissions() {
        Server server;
        const fs::path shared = server.root.parent_path() / "shared.properties";
        writeFile(shared, "level-name=old\n");
        using enum fs::perms;
        fs::permissions(shared, owner_read | owner_write | group_read);
        fs::create_symlink("../shared.properties", server.props());

        server.run("W");
        QVERIFY(server.dialogs.alerts.empty());
        QCOMPARE(fs::read_symlink(server.props()), fs::path("../shared.properties"));
        QCOMPARE(readFile(shared), std::string("level-name=W\n"));
        QCOMPARE(fs::status(shared).permissions(), owner_read | owner_write | group_read);
        QVERIFY(!fs::is_symlink(server.backup()));
        QCOMPARE(readFile(server.backup()), std::string("level-name=old\n"));
    }

    void delegateNamesTheSelectedWorld() {
        fs::create_directories(fs::path(savesFolderPath()) / "Alpha");
        fs::create_directories(fs::path(savesFolderPath()) / "Welt Größe");
        Server server;
        writeFile(server.props(), "level-name=world\n");
        server.launch();
        QComboBox& worlds = *server.ui().worldList;
        worlds.setCurrentIndex(worlds.findText(QStringLiteral("Welt Größe")));

        server.interface.delegate().replaceServerProps(server.root.string());
        QCOMPARE(readFile(server.props()), std::string("level-name=Welt Größe\n"));
        QVERIFY(server.dialogs.alerts.empty());
    }

    void delegateWithoutASelectionWritesNothing() {
        Server server;
        writeFile(server.props(), "level-name=world\n");

        server.interface.delegate().replaceServerProps(server.root.string());
        QCOMPARE(server.dialogs.alerts, std::vector<Alert>{writeFailed});
        QVERIFY(server.files.calls.empty());
        QCOMPARE(entries(server.root), Names{"server.properties"});
    }
};

QTEST_MAIN(ServerPropsTest)
#include "ServerPropsTest.moc"
