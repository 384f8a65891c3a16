// What keeps a server's world safe: the game's and the server's locks, Replace to the Trash with
// the world's Nether and End, and one copy into a server folder at a time.
#include "support/CopyScene.h"
#include "worlds/StagedCopy.h"

#include <QDir>
#include <QLockFile>
#include <QScopeGuard>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
namespace fs = std::filesystem;
using Layout = std::vector<std::string>;
using Names = std::vector<std::string>;

namespace {

// One copy, what is around it, and what it must come to; each test reads the fields it needs.
struct Case {
    Layout layout = {};        // built in the scene
    Alerts alerts = {};        // every alert, in order
    std::string held = {};     // a session.lock that another process holds, in the scene
    bool atFlush = false;      // it is taken, or a staged file lost, only as the copy flushes
    Names toTrash = {};        // the items the Trash gets
    std::string dataHome = {}; // where the Trash is looked for, in the scene; empty: the default
    bool placeFails = false;   // the copy cannot take the old world's place
    bool copyLockHeld = false; // another copy holds the server folder
    Names after = {};          // what the server folder holds afterwards
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

// What the Trash holds, by the name each item had where it came from. A record left without its
// item, when removing it failed, names nothing.
std::map<std::string, Snapshot> trashed(const fs::path& trash) {
    std::map<std::string, Snapshot> items;
    for (const std::string& record : fs::exists(trash) ? entries(trash / "info") : Names{}) {
        const std::string text = readFile(trash / "info" / record);
        const auto from = text.find("\nPath=") + 6;
        const fs::path original = text.substr(from, text.find('\n', from) - from);
        const fs::path item = trash / "files" / fs::path(record).stem();
        if (fs::exists(fs::symlink_status(item))) {
            items[original.filename().string()] = snapshotTree(item);
        }
    }
    return items;
}

// As for every user but root: a folder only moves into another folder when its owner may write it.
bool refusedByTheKernel(const std::string& call) {
    const std::string path = call.substr(call.find(' ') + 1);
    struct stat status {};
    return (call.starts_with("moveToTrash") || call.starts_with("renameItem")) &&
           ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           (status.st_mode & S_IWUSR) == 0;
}

const Layout sessionLocks{"f:saves/World/session.lock=☃", "f:server/World/session.lock=☃",
                          "f:server/World_nether/session.lock=☃", "f:server/Other/session.lock=☃",
                          "l:server/World_the_end/session.lock>../Other/session.lock"};
const Layout companions{"f:server/World/level.dat=old", "f:server/World_nether/DIM-1/r=n",
                        "l:server/World_the_end>../elsewhere", "f:elsewhere/keep=k"};
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
        row("nothing held", {sessionLocks, copied});
        row("staged file lost", {sessionLocks, {worldExists, unableToCopy}, "", true});
        const std::string staging = std::string(stagingFolderPrefix) + "Ab12Cd";
        const std::string aside = std::string(asideFolderPrefix) + "Ab12Cd";
        const std::string lock(copyLockName);
        row("another copy under way", {.layout = {"f:server/" + staging + "/World/a=half"},
                                       .alerts = {anotherCopyUnderWay},
                                       .copyLockHeld = true,
                                       .after = {staging, lock, "server.properties"}});
        row("a file and a link of our names",
            {.layout = {"f:server/" + staging + "=mine", "l:server/" + aside + ">../saves",
                        "f:server/.plovermantle-staging-Zz99Zz/World/a=half"},
             .alerts = {worldCopied},
             .after = {aside, staging, "World", "server.properties", "server.properties.backup"}});
        row("a world set aside with its Nether",
            {.layout = {"f:server/" + aside + "/World/a=old",
                        "f:server/" + aside + "/World_nether/r=n"},
             .alerts = {worldExists},
             .after = {"World", "World_nether", "server.properties"}});
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
            QVERIFY(trashed(s.trash).empty());
        }
        QVERIFY(!fs::exists(fs::symlink_status(s.root / "victim")));
        if (c.held == "saves/World") { // nothing done after the look at its lock
            QCOMPARE(QString::fromStdString(s.files.calls.back()), "isLockHeld " + lock.fileName());
        }
    }

    // Replace moves the world and its Nether and End to the Trash, from where the user can put
    // each back as it was; without a Trash they are removed. Whatever operation fails, nothing is
    // lost: each old item is in place, in the Trash, or (without a Trash, once the new world is
    // in) gone, and the process's folder gets nothing.
    void replaceGoesToTheTrash_data() {
        QTest::addColumn<Case>("c");
        const Layout world{"f:server/World/level.dat=old"};
        Layout noTrash = companions;
        noTrash.push_back("f:plain=file");
        row("world", {.layout = world, .alerts = copied, .toTrash = {"World"}});
        row("with its Nether and End", {.layout = companions,
                                        .alerts = copied,
                                        .toTrash = {"World", "World_nether", "World_the_end"}});
        row("only a Nether", {.layout = {"f:server/World_nether/r=n"},
                              .alerts = copied,
                              .toTrash = {"World_nether"}});
        row("read-only world",
            {.layout = {world[0], "m:server/World=0555"}, .alerts = copied, .toTrash = {"World"}});
        row("no Trash", {.layout = noTrash, .alerts = copied, .dataHome = "plain/share"});
        row("copy cannot take the place",
            {.layout = companions, .alerts = {worldExists, unableToReplace}, .placeFails = true});
    }

    void replaceGoesToTheTrash() {
        QFETCH(Case, c);
        const QString cwd = QDir::currentPath();
        const auto back = qScopeGuard([&] { QDir::setCurrent(cwd); });
        for (std::size_t n = 0, total = 0; n <= total; ++n) {
            CopyScene s;
            buildTree(s.root, c.layout);
            fs::create_directories(s.root / "cwd");
            QDir::setCurrent(QString::fromStdString((s.root / "cwd").string()));
            if (!c.dataHome.empty()) {
                qputenv("XDG_DATA_HOME", QByteArray::fromStdString((s.root / c.dataHome).string()));
            }
            std::map<std::string, Snapshot> old;
            for (const std::string& name : worldItemNames("World")) {
                if (fs::exists(fs::symlink_status(s.server / name))) {
                    old[name] = snapshotTree(s.server / name);
                }
            }
            s.files.failAt = {static_cast<int>(n)};
            s.files.failIf = [&](const std::string& call) {
                return refusedByTheKernel(call) ||
                       (c.placeFails && call.starts_with("renameItem " + s.root.string() +
                                                         "/server/.plovermantle-staging-"));
            };
            s.copy();
            total = n == 0 ? s.files.calls.size() : total;
            const QByteArray where = n == 0 ? "" : QByteArray::fromStdString(s.files.calls[n - 1]);
            QVERIFY2(n > 0 || s.dialogs.alerts == c.alerts, where);
            const bool copied = s.dialogs.alerts.back() == worldCopied;
            QVERIFY2(!copied || snapshotTree(s.server / "World") == snapshotTree(s.saves / "World"),
                     where);
            if (!copied) {
                recoverLeftovers(s.files, s.server.string()); // what the next copy would do
            }
            // Whole, except that a read-only world may keep its owner's write bit when giving it
            // back fails.
            const auto same = [&](Snapshot a, Snapshot b) {
                return n == 0 ? a == b : (a.erase(""), b.erase(""), a == b);
            };
            const auto inTrash = trashed(s.trash);
            Names toTrash;
            for (const auto& [name, snapshot] : old) {
                const bool present = fs::exists(fs::symlink_status(s.server / name));
                const bool kept = present && !(copied && name == "World") &&
                                  same(snapshotTree(s.server / name), snapshot);
                const bool inTheTrash = inTrash.contains(name) && same(inTrash.at(name), snapshot);
                if (inTheTrash) {
                    toTrash.push_back(name);
                }
                QVERIFY2(copied ? name == "World" || !present : kept || inTheTrash, where);
            }
            const std::size_t records = fs::exists(s.trash) ? entries(s.trash / "info").size() : 0;
            QVERIFY2(n > 0 || (toTrash == c.toTrash && records == toTrash.size()), where);
            QVERIFY2(!fs::exists(s.trash) || entries(s.trash / "files").size() == inTrash.size(),
                     where);
            QVERIFY2(entries(s.root / "cwd").empty(), where);
        }
    }
};

QTEST_MAIN(WorldSafetyTest)
#include "WorldSafetyTest.moc"
