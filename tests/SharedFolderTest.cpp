// A server folder shared with other accounts, whose plugins may put anything there: what a copy
// follows, writes and refuses, who may read what it writes, and why a failure happened.
#include "support/CopyScene.h"

#include <QRegularExpression>
#include <QTest>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
namespace fs = std::filesystem;
using Layout = std::vector<std::string>;

namespace {

// Another account, say the server's, and a group it shares with the desktop user.
constexpr uid_t otherUser = 12345;
constexpr gid_t sharedGroup = 23456;

// Builds `layout` under the scene's root (as buildTree does), each entry in place of whatever
// stood at its path.
void plant(const CopyScene& s, const Layout& layout) {
    for (const std::string& entry : layout) {
        fs::remove(s.root / entry.substr(2, entry.find_first_of("=>", 2) - 2));
    }
    buildTree(s.root, layout);
}

// Who owns the item at `path`, and its permission bits.
std::tuple<uid_t, gid_t, mode_t> owned(const fs::path& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return {status.st_uid, status.st_gid, status.st_mode & 07777};
}

struct Planted {
    std::string world;
    Layout layout;
    Layout foreign; // links handed to another user
    Alerts alerts;
    std::string props;                 // what server.properties, or its file, holds afterwards
    std::optional<std::string> backup; // the backup when it is a plain file
};

struct Failure {
    std::string server;
    Layout layout;
    std::string failing; // the operation made to fail; none when the disk fails by itself
    Alerts alerts;
    std::string details; // the failure alert's, as a wildcard, "@" standing for the scene's root
};

} // namespace

Q_DECLARE_METATYPE(Planted)
Q_DECLARE_METATYPE(Failure)

class SharedFolderTest : public QObject {
    Q_OBJECT

private slots:
    // Links put where the app writes or reads, and world names that are the app's own files or that
    // the server could not read: nothing in the folder `other` is read or written through them.
    void plantedLinksAndNames_data() {
        QTest::addColumn<Planted>("c");
        const std::string old = "level-name=old";
        const std::string copied = "level-name=World";
        const Alerts told{worldCopied};
        const Alerts unread{propsUnreadable, worldCopied};
        const Alerts refused{badWorldName};
        const Layout toVictim{"f:other/victim=v",
                              "l:server/server.properties.backup>../other/victim"};
        const Layout dangling{"l:server/server.properties.backup>../other/new"};
        const Layout key{"f:other/id_key=KEY", "m:other/id_key=0600",
                         "l:server/server.properties>../other/id_key"};
        const Layout hop{"f:other/real=" + old, "l:other/hop>real",
                         "l:server/server.properties>../other/hop"};
        const auto row = [](const char* name, const Planted& c) {
            QTest::newRow(name) << c;
        };
        row("backup is a link out", {"World", toVictim, {}, told, copied, old});
        row("backup is a dangling link", {"World", dangling, {}, told, copied, old});
        row("another user's link", {"World", key, {"server/server.properties"}, unread, "KEY", {}});
        row("own link to a link", {"World", hop, {}, unread, old, {}});
        for (const char* name :
             {"server.properties", "server.properties.backup", "Server.Properties",
              ".plovermantle.lock", ".plovermantle-staging-Ab12Cd", ".plovermantle-aside-x"}) {
            row(name, {name, {}, {}, refused, old, {}});
        }
        row("not UTF-8", {"Caf\xe9", {}, {}, {worldNameNotUtf8}, old, {}});
    }

    void plantedLinksAndNames() {
        QFETCH(Planted, c);
        if (!c.foreign.empty() && ::geteuid() != 0) {
            QSKIP("handing a link to another user needs root");
        }
        CopyScene s;
        fs::create_directories(s.root / "other");
        plant(s, c.layout);
        for (const std::string& link : c.foreign) {
            QCOMPARE(::lchown((s.root / link).c_str(), otherUser, otherUser), 0);
        }
        const Snapshot others = snapshotTree(s.root / "other");
        s.copy({"shown", c.world, s.saves.string(), s.server.string()});
        QCOMPARE(s.dialogs.alerts, c.alerts);
        QCOMPARE(snapshotTree(s.root / "other"), others);
        QCOMPARE(readFile(s.server / "server.properties"), c.props);
        const fs::path backup = s.server / "server.properties.backup";
        QCOMPARE(fs::is_regular_file(fs::symlink_status(backup)) ? std::optional(readFile(backup))
                                                                 : std::nullopt,
                 c.backup);
    }

    // Run as root, both files stay the server account's, as private as they were (the file holds
    // the remote console's password), and no copied file becomes a program that runs as root.
    void keepsOwnershipDropsSetIdBits() {
        if (::geteuid() != 0) {
            QSKIP("giving a file to another user needs root");
        }
        CopyScene s;
        const fs::path props = s.server / "server.properties";
        writeFile(props, "rcon.password=secret\nlevel-name=old\n");
        QCOMPARE(::chown(props.c_str(), otherUser, sharedGroup), 0);
        QCOMPARE(::chmod(props.c_str(), 0640), 0);
        buildTree(s.saves / "World", {"f:uid=u", "m:uid=04755", "f:gid=g", "m:gid=02750",
                                      "f:sticky=s", "m:sticky=01644"});
        s.copy();
        QCOMPARE(s.dialogs.alerts, Alerts{worldCopied});
        for (const char* name : {"server.properties", "server.properties.backup"}) {
            QCOMPARE(owned(s.server / name), std::tuple(otherUser, sharedGroup, 0640u));
        }
        for (const auto& [name, bits] :
             {std::pair("uid", 0755u), {"gid", 0750u}, {"sticky", 0644u}}) {
            QCOMPARE(std::get<2>(owned(s.server / "World" / name)), bits);
        }
    }

    // Not root, a member of the server account's group rewrites the file: both files keep that
    // group and their bits, so the server can still read them. A user outside that group cannot
    // keep it, and the group bits then give no more than others had.
    void keepsTheGroupWithoutRoot_data() {
        QTest::addColumn<bool>("inGroup");
        QTest::newRow("in the server's group") << true;
        QTest::newRow("not in it") << false;
    }

    void keepsTheGroupWithoutRoot() {
        QFETCH(bool, inGroup);
        if (::geteuid() != 0) {
            QSKIP("running as an unprivileged member of a group needs root to set it up");
        }
        CopyScene s;
        const fs::path props = s.server / "server.properties";
        for (const fs::path& item : {s.server, props}) {
            QCOMPARE(::chown(item.c_str(), otherUser, sharedGroup), 0);
            QCOMPARE(::chmod(item.c_str(), item == props ? 0664 : inGroup ? 0775 : 0777), 0);
        }
        QCOMPARE(::chmod(s.root.c_str(), 0755), 0);
        constexpr uid_t member = 34567; // whose own group is another one
        const pid_t child = ::fork();
        if (child == 0) {
            const gid_t groups[] = {sharedGroup};
            if (::setgroups(inGroup ? 1 : 0, groups) != 0 ||
                ::setresgid(member, member, member) != 0 ||
                ::setresuid(member, member, member) != 0) {
                ::_exit(2);
            }
            rewriteServerProps(s.platform, s.server.string(), "World");
            ::_exit(s.dialogs.shown.empty() ? 0 : 1); // leaves the folder to the parent
        }
        int status = -1;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QCOMPARE(status, 0);
        QCOMPARE(readFile(props), std::string("level-name=World"));
        for (const char* name : {"server.properties", "server.properties.backup"}) {
            QCOMPARE(owned(s.server / name), inGroup ? std::tuple(member, sharedGroup, 0664u)
                                                     : std::tuple(member, member, 0644u));
        }
    }

    // Each failure alert keeps its texts and tells, behind its details, the operation that
    // failed, on which path, and the system's reason.
    void failuresTellWhy_data() {
        QTest::addColumn<Failure>("c");
        const std::string props = "d:server/server.properties";
        QTest::newRow("server folder gone")
            << Failure{"gone",
                       {},
                       "",
                       {unableToCopy},
                       "create the lock file @/gone/.plovermantle.lock: No such file or directory"};
        QTest::newRow("replace fails")
            << Failure{"server",
                       {"f:server/World/a=old"},
                       "renameItem",
                       {worldExists, unableToReplace},
                       "renameItem @/server/.plovermantle-staging-*/World: Input/output error"};
        QTest::newRow("read fails")
            << Failure{"server",
                       {props},
                       "",
                       {propsUnreadable, worldCopied},
                       "read @/server/server.properties: not a regular file"};
        QTest::newRow("write fails")
            << Failure{"server",
                       {props + ".backup"},
                       "",
                       {propsWriteFailed, worldCopied},
                       "write @/server/server.properties.backup: Is a directory"};
    }

    void failuresTellWhy() {
        QFETCH(Failure, c);
        CopyScene s;
        plant(s, c.layout);
        s.server = s.root / c.server;
        s.files.failIf = [&](const std::string& call) {
            return !c.failing.empty() && call.starts_with(c.failing);
        };
        s.copy();
        QCOMPARE(s.dialogs.alerts, c.alerts);
        QString details; // only the failure's alert has any
        for (const Alert& alert : s.dialogs.shown) {
            details += QString::fromStdString(alert.details);
        }
        const QString root = QString::fromStdString(s.root.string());
        const QString pattern = QString::fromStdString(c.details).replace('@', root);
        QVERIFY2(
            QRegularExpression::fromWildcard(pattern, Qt::CaseSensitive).match(details).hasMatch(),
            qPrintable(details));
    }
};

QTEST_GUILESS_MAIN(SharedFolderTest)
#include "SharedFolderTest.moc"
