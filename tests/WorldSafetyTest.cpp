// What keeps a server's world safe: the game's and the server's locks, and one copy into a server
// folder at a time.
#include "support/CopyScene.h"
#include "worlds/StagedCopy.h"

#include <QLockFile>
#include <QTest>
#include <fcntl.h>
#include <unistd.h>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
namespace fs = std::filesystem;
using Layout = std::vector<std::string>;

namespace {

// One copy, what is around it, and what it must come to; each test reads the fields it needs.
struct Case {
    Layout layout = {};        // built in the scene
    Alerts alerts = {};        // every alert, in order
    std::string held = {};     // a session.lock that another process holds, in the scene
    bool atFlush = false;      // it is taken, or a staged file lost, only as the copy flushes
    bool copyLockHeld = false; // another copy holds the server folder
    Layout after = {};         // what the server folder holds afterwards
};

void row(const char* name, const Case& c) {
    QTest::newRow(name) << c;
}

// Holds a lock on `file` as the game's JVM does, as another process would: a lock of the open
// file description conflicts with a POSIX lock test even from this process.
void lockAsTheGame(QFile& file) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    QVERIFY(file.open(QIODevice::ReadWrite) && ::fcntl(file.handle(), F_OFD_SETLK, &lock) == 0);
}

// The items of a folder, without the folder's own time, which the copy lock touches.
Snapshot contents(const fs::path& folder) {
    Snapshot items = snapshotTree(folder);
    items.erase("");
    return items;
}

const Layout sessionLocks{"f:saves/World/session.lock=☃", "f:server/World/session.lock=☃",
                          "f:server/World_nether/session.lock=☃", "f:server/Other/session.lock=☃",
                          "l:server/World_the_end/session.lock>../Other/session.lock"};
const Alerts copied{worldExists, worldCopied};

} // namespace

Q_DECLARE_METATYPE(Case)

class WorldSafetyTest : public QObject {
    Q_OBJECT

private slots:
    // What others use is left alone. A world the game or a server has open is neither copied nor
    // replaced, even when the server starts during the copy; a lock file alone, a link to a lock,
    // or another world's lock is no obstacle. A second copy into a server folder touches nothing;
    // only our own leftover folders are cleaned up, a world set aside comes back with its Nether,
    // and a link planted as the lock file leads nowhere. A staged tree that lost a file is not
    // placed.
    void leavesAloneWhatOthersUse_data() {
        QTest::addColumn<Case>("c");
        row("open in the game", {sessionLocks, {worldOpenInGame}, "saves/World"});
        row("run by the server", {sessionLocks, {serverRunsWorld}, "server/World"});
        row("its Nether run", {sessionLocks, {serverRunsWorld}, "server/World_nether"});
        row("server started meanwhile",
            {sessionLocks, {worldExists, serverRunsWorld}, "server/World", true});
        row("another world run", {sessionLocks, copied, "server/Other"});
        row("staged file lost", {sessionLocks, {worldExists, unableToCopy}, "", true});
        const std::string staging = std::string(stagingFolderPrefix) + "Ab12Cd";
        const std::string lock(copyLockName);
        row("another copy under way", {.layout = {"f:server/" + staging + "/World/a=half"},
                                       .alerts = {anotherCopyUnderWay},
                                       .copyLockHeld = true,
                                       .after = {staging, lock, "server.properties"}});
        row("a link as the lock file",
            {.layout = {"l:server/" + lock + ">../victim"},
             .alerts = {worldCopied},
             .after = {"World", "server.properties", "server.properties.backup"}});
    }

    void leavesAloneWhatOthersUse() {
        QFETCH(Case, c);
        CopyScene s;
        buildTree(s.root, c.layout);
        const Snapshot before = contents(s.server);
        QFile lock(QString::fromStdString((s.root / c.held / "session.lock").string()));
        if (!c.held.empty() && !c.atFlush) {
            lockAsTheGame(lock);
        }
        s.files.failIf = [&](const std::string& call) {
            if (c.atFlush && call.starts_with("flushToDisk")) {
                c.held.empty()
                    ? (void)fs::remove(call.substr(call.find(' ') + 1) + "/World/level.dat")
                    : lockAsTheGame(lock);
            }
            return false;
        };
        QLockFile other(QString::fromStdString((s.server / copyLockName).string()));
        QVERIFY(!c.copyLockHeld || other.tryLock(0));
        s.dialogs.alertAnswer =
            c.alerts == Alerts{worldExists} ? alertFirstButtonReturn + 1 : alertFirstButtonReturn;
        s.copy();
        QCOMPARE(s.dialogs.alerts, c.alerts);
        if (!c.after.empty()) {
            QCOMPARE(entries(s.server), c.after);
        } else if (c.alerts.back() == worldCopied) {
            QCOMPARE(snapshotTree(s.server / "World"), snapshotTree(s.saves / "World"));
        } else {
            QCOMPARE(contents(s.server), before);
        }
        QVERIFY(!fs::exists(fs::symlink_status(s.root / "victim")));
        if (c.held == "saves/World") { // nothing done after the look at its lock
            QCOMPARE(QString::fromStdString(s.files.calls.back()), "isLockHeld " + lock.fileName());
        }
    }
};

QTEST_MAIN(WorldSafetyTest)
#include "WorldSafetyTest.moc"
