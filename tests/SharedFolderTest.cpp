// A server folder shared with other accounts, whose plugins may put anything there: what a copy
// follows, writes and refuses, who may read what it writes, and why a failure happened.
#include "support/CopyScene.h"

#include <QRegularExpression>
#include <QTest>
#include <sys/stat.h>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
using namespace Plovermantle::Messages;
namespace fs = std::filesystem;

namespace {

// Who owns the item at `path`, and its permission bits.
std::tuple<uid_t, gid_t, mode_t> owned(const fs::path& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return {status.st_uid, status.st_gid, status.st_mode & 07777};
}

struct Planted {
    std::string world;
    Layout layout = {};
    Alerts alerts = {};
    std::optional<std::string> props = {};  // server.properties, or its file, when a plain file
    std::optional<std::string> backup = {}; // the backup when a plain file
    std::string details = {}; // the alerts', as a wildcard, "@" standing for the scene's root
    Layout foreign = {};      // links handed to another user
    std::string server = "server";
};

// The file at `path`, links followed, when it is a plain one.
std::optional<std::string> plainFile(const fs::path& path) {
    return fs::is_regular_file(path) ? std::optional(readFile(path)) : std::nullopt;
}

} // namespace

Q_DECLARE_METATYPE(Planted)

class SharedFolderTest : public QObject {
    Q_OBJECT

private slots:
    // Links put where the app writes or reads, and world names that are the app's own files or that
    // the server could not read: nothing in the folder `other` is read or written through them, a
    // link that is followed stays a link, and the file keeps its permissions. Each failure alert
    // tells, behind its details, the operation that failed, on which path, and the system's reason.
    void plantedLinksAndNames_data() {
        QTest::addColumn<Planted>("c");
        const std::string old = "level-name=old";
        const std::string copied = "level-name=World";
        const Alerts told{worldCopied};
        const Alerts unread{propsNotRead("level-name=World"), worldCopied};
        const Alerts unwritten{propsWriteFailed, worldCopied};
        const std::string read = "read @/server/server.properties: ";
        const std::string writeBackup = "write @/server/server.properties.backup: Is a directory";
        const Layout foreign{"server/server.properties"};
        const Layout folder{"d:server/server.properties.backup"};
        const Layout toVictim{"f:other/victim=v",
                              "l:server/server.properties.backup>../other/victim"};
        const Layout dangling{"l:server/server.properties.backup>../other/new"};
        const Layout key{"f:other/id_key=KEY", "m:other/id_key=0600",
                         "l:server/server.properties>../other/id_key"};
        const Layout hop{"f:server/real=" + old, "l:server/hop>real",
                         "l:server/server.properties>hop"};
        const Layout shared{"f:shared=" + old, "m:shared=0640",
                            "l:server/server.properties>../shared"};
        const Layout inside{"f:server/real=" + old, "l:server/server.properties>real"};
        const Layout latin{"f:server/server.properties=caf\xe9"};
        const std::string unfollowed = "a symbolic link, which is not followed here";
        const auto row = [](const std::string& name, const Planted& c) {
            QTest::newRow(name.c_str()) << c;
        };
        row("backup is a link out", {"World", toVictim, told, copied, old});
        row("backup is a dangling link", {"World", dangling, told, copied, old});
        row("another user's link", {"World", key, unread, "KEY", {}, read + "a sym*", foreign});
        row("own link to a link", {"World", hop, unread, old, {}, "read @/server/hop: a sym*"});
        row("own link out of the folder", {"World", shared, unread, old, {}, read + unfollowed});
        row("a pipe", {"World", {"p:server/server.properties"}, unread, {}, {}, read + "not a *"});
        row("not UTF-8", {"World", latin, unread, "caf\xe9", {}, read + "not UTF-8 text"});
        row("own link inside the folder", {"World", inside, told, copied, old});
        row("backup is a folder", {"World", folder, unwritten, old, {}, writeBackup});
        row("server folder gone", {.world = "World",
                                   .alerts = {serverFolderUnusable},
                                   .details = "*@/gone: No such file or directory",
                                   .server = "gone"});
        for (const std::string& name : std::vector<std::string>{
                 "", ".", "..", "../server", std::string("World\0x", 7), "server.properties",
                 "server.properties.backup", "Server.Properties", ".plovermantle.lock",
                 ".plovermantle-staging-Ab12Cd", ".plovermantle-aside-x"}) {
            row(name, {name, {}, {badWorldName}, old});
        }
        row("name not UTF-8", {"Caf\xe9", {}, {worldNameNotUtf8}, old});
    }

    void plantedLinksAndNames() {
        QFETCH(Planted, c);
        if (!c.foreign.empty() && ::geteuid() != 0) {
            QSKIP("handing a link to another user needs root");
        }
        CopyScene s;
        fs::create_directories(s.root / "other");
        buildTree(s.root, c.layout);
        for (const std::string& link : c.foreign) {
            QCOMPARE(::lchown((s.root / link).c_str(), serverUser, serverUser), 0);
        }
        s.server = s.root / c.server;
        const Snapshot others = snapshotTree(s.root / "other");
        const auto kind = [&] {
            return std::pair(fs::symlink_status(s.props()).type(),
                             fs::status(s.props()).permissions());
        };
        const auto before = kind();
        s.copy(c.world);
        QCOMPARE(s.dialogs.alerts, c.alerts);
        QCOMPARE(snapshotTree(s.root / "other"), others);
        QVERIFY(kind() == before);
        QCOMPARE(plainFile(s.props()), c.props);
        QCOMPARE(plainFile(s.backup()), c.backup);
        QString details; // only the failure's alert has any
        for (const Alert& alert : s.dialogs.shown) {
            details += QString::fromStdString(alert.details);
        }
        const QString pattern =
            QString::fromStdString(c.details).replace('@', QString::fromStdString(s.root));
        QVERIFY2(
            QRegularExpression::fromWildcard(pattern, Qt::CaseSensitive).match(details).hasMatch(),
            qPrintable(details));
    }

    // Both files stay the server account's, no more readable than they were (the file holds the
    // remote console's password), and no copied file becomes a program that runs as root. Not root,
    // a member of the server account's group keeps that group and the bits, so the server can still
    // read them; a user outside that group cannot, and the group bits then give no more than
    // others had.
    void keepsOwnersAndDropsSetIdBits_data() {
        QTest::addColumn<uid_t>("user");
        QTest::addColumn<bool>("inGroup");
        QTest::newRow("root") << uid_t{0} << true;
        QTest::newRow("in the server's group") << desktopUser << true;
        QTest::newRow("not in it") << desktopUser << false; // whose own group is another one
    }

    void keepsOwnersAndDropsSetIdBits() {
        QFETCH(uid_t, user);
        QFETCH(bool, inGroup);
        if (::geteuid() != 0) {
            QSKIP("giving a file to another user needs root");
        }
        CopyScene s;
        buildTree(s.saves / "World", {"f:uid=u", "m:uid=04755", "f:gid=g", "m:gid=02750",
                                      "f:sticky=s", "m:sticky=01644"});
        writeFile(s.props(), "rcon.password=secret\nlevel-name=old\n");
        for (const fs::path& item : {s.server, s.props()}) {
            QCOMPARE(::chown(item.c_str(), serverUser, sharedGroup), 0);
            QCOMPARE(::chmod(item.c_str(), item == s.props() ? 0664 : inGroup ? 0775 : 0777), 0);
        }
        QCOMPARE(::chmod(s.root.c_str(), 0755), 0);
        QVERIFY(runAs(user, inGroup ? std::vector{sharedGroup} : std::vector<gid_t>{}, [&] {
            user == 0 ? (void)s.copy() : (void)s.rewrite("World");
            return s.dialogs.shown == (user == 0 ? Alerts{worldCopied} : Alerts{});
        }));
        QCOMPARE(readFile(s.props()), std::string("rcon.password=secret\nlevel-name=World\n"));
        for (const fs::path& file : {s.props(), s.backup()}) {
            QCOMPARE(owned(file), user == 0 ? std::tuple(serverUser, sharedGroup, 0664u)
                                  : inGroup ? std::tuple(user, sharedGroup, 0664u)
                                            : std::tuple(user, user, 0644u));
        }
        if (user != 0) {
            return;
        }
        for (const auto& [name, bits] :
             {std::pair("uid", 0755u), {"gid", 0750u}, {"sticky", 0644u}}) {
            QCOMPARE(owned(s.server / "World" / name), std::tuple(serverUser, sharedGroup, bits));
        }
    }
};

QTEST_GUILESS_MAIN(SharedFolderTest)
#include "SharedFolderTest.moc"
