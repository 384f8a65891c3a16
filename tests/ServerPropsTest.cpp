// server.properties: the level-name rewrite, the backup around it, and the file layer beneath:
// every byte kept, and only plain files read.
#include "platform/QtPreferences.h"
#include "support/FailingFileSystem.h"
#include "support/TestSupport.h"
#include "worlds/ServerProperties.h"

#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <sys/stat.h>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
using namespace std::string_view_literals;
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

Q_DECLARE_METATYPE(Alerts)

namespace {

// A server folder whose path holds blanks and non-ASCII letters, on the real disk behind a fault
// injector.
struct Server {
    Server() { fs::create_directories(root); }

    fs::path props() const { return root / "server.properties"; }
    fs::path backup() const { return root / "server.properties.backup"; }
    void run(std::string_view world) { rewriteServerProps(platform, root.string(), world); }

    QTemporaryDir dir;
    fs::path root = fs::path(dir.path().toStdString()) / "Mein Server Größe";
    FailingFileSystem files;
    QtPreferences prefs{dir.filePath(QStringLiteral("prefs.ini"))};
    RecordingDialogs dialogs;
    Platform platform{files, prefs, dialogs};
};

// The bytes of `text`, NULs included, for comparing with QCOMPARE.
QByteArray bytes(std::string_view text) {
    return {text.data(), static_cast<qsizetype>(text.size())};
}

} // namespace

class ServerPropsTest : public QObject {
    Q_OBJECT

private slots:
    void rewritesLevelNameLines_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("world");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* name, std::string_view text, std::string_view world,
                            std::string_view expected) {
            QTest::newRow(name) << bytes(text) << bytes(world) << bytes(expected);
        };
        // Which lines match, and what happens to the others; the last line may lack its newline.
        row("any case, anywhere", "#a=LEVEL-NAME=x\n", "W", "level-name=W\n");
        row("blank before equals", "level-name = old\n", "W", "level-name = old\n");
        row("every match", "level-name=a\n\nx\nlevel-name=b", "W",
            "level-name=W\n\nx\nlevel-name=W");
        row("no match, nothing added", "motd=hi\n", "W", "motd=hi\n");
        row("CRLF elsewhere kept", "a\r\nlevel-name=x\r\nb\r\n", "W", "a\r\nlevel-name=W\nb\r\n");
        row("NULs kept", "a=\0b\nlevel-name=x\0\n\0"sv, "W", "a=\0b\nlevel-name=W\n\0"sv);
        // Names the server reads back as they are, and those it would change unless escaped.
        row("name verbatim", "level-name=x\n", "A = Größe 🌍 ", "level-name=A = Größe 🌍 \n");
        row("backslashes", "level-name=x\nb=2\n", "a\\b\\", "level-name=a\\\\b\\\\\nb=2\n");
        row("line breaks", "level-name=x\nb=2\n", "a\rb\nc", "level-name=a\\rb\\nc\nb=2\n");
        row("leading blanks", "level-name=x\n", "  World", "level-name=\\  World\n");
        row("leading tab, then form feed", "level-name=x\n", "\t\fW", "level-name=\\\t\fW\n");
    }

    void rewritesLevelNameLines() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, world);
        QFETCH(QByteArray, expected);
        QCOMPARE(bytes(rewriteServerPropsText(text.toStdString(), world.toStdString())), expected);
    }

    // Backed up, then rewritten. A file that cannot be read changes nothing, and a failed write
    // leaves the file it was writing whole; each failure is told in one alert.
    void backsUpThenRewrites_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("failing"); // the file whose read or write fails
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QByteArray>("backup");
        QTest::addColumn<Alerts>("alerts");
        // Long enough to take many reads, with a NUL; the rewrite is shorter, so no tail may
        // remain.
        const QByteArray big = "x=" + QByteArray(200'000, 'x') + '\0' + "\r\n";
        const QByteArray text = "level-name=a\r\n" + big + "#LEVEL-NAME=b\r\n";
        const QByteArray rewritten = "level-name=W\n" + big + "level-name=W\n";
        const QByteArray older("older backup");
        const QByteArray latin1("motd=Gr\xf6\xdf\nlevel-name=old\n");
        QTest::newRow("rewritten") << text << "" << rewritten << text << Alerts{};
        QTest::newRow("not UTF-8") << latin1 << "" << latin1 << older << Alerts{unreadable};
        QTest::newRow("read fails")
            << text << "readTextFile server.properties" << text << older << Alerts{unreadable};
        QTest::newRow("backup fails") << text << "writeFileAtomically server.properties.backup"
                                      << text << older << Alerts{writeFailed};
        QTest::newRow("rewrite fails") << text << "writeFileAtomically server.properties" << text
                                       << text << Alerts{writeFailed};
    }

    void backsUpThenRewrites() {
        QFETCH(QByteArray, before);
        QFETCH(QString, failing);
        QFETCH(QByteArray, after);
        QFETCH(QByteArray, backup);
        QFETCH(Alerts, alerts);
        Server server;
        writeFile(server.backup(), "older backup");
        writeFile(server.props(), before.toStdString());
        const QStringList call = failing.split(' ');
        server.files.failIf = [&](const std::string& made) {
            return call.size() == 2 && made == call[0].toStdString() + ' ' +
                                                   (server.root / call[1].toStdString()).string();
        };

        server.run("W");
        QCOMPARE(server.dialogs.alerts, alerts);
        QCOMPARE(bytes(readFile(server.props())), after);
        QCOMPARE(bytes(readFile(server.backup())), backup);
        // Nothing else is left in the folder, a temporary file least of all.
        QCOMPARE(entries(server.root), (Names{"server.properties", "server.properties.backup"}));
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

    // A FIFO would block a plain open; a path with a NUL would name another file in the kernel.
    void refusesWhatIsNotAPlainFile() {
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        writeFile(root / "folder/inside", "kept");
        QCOMPARE(::mkfifo((root / "fifo").c_str(), 0600), 0);
        const std::string nulPath = (root / "folder/inside").string() + std::string(1, '\0');
        PosixFileSystem files;
        QVERIFY(!files.readTextFile(root / "fifo"));
        QVERIFY(!files.readTextFile(nulPath + "x"));
        QVERIFY(!files.writeFileAtomically(nulPath, "new"));
        QCOMPARE(entries(root), (Names{"fifo", "folder"}));
        QCOMPARE(entries(root / "folder"), Names{"inside"});
        QCOMPARE(readFile(root / "folder/inside"), std::string("kept"));
    }
};

QTEST_GUILESS_MAIN(ServerPropsTest)
#include "ServerPropsTest.moc"
