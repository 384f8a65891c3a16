// A world's copy into the server folder, past the game's and the server's locks and one at a time,
// Replace to the Trash, and the server.properties rewrite that follows it.
#include "worlds/WorldCopy.h"

#include "support/CopyScene.h"
#include "worlds/ServerProperties.h"
#include "worlds/StagedCopy.h"

#include <QDir>
#include <QLockFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
using namespace Plovermantle::Messages;
namespace fs = std::filesystem;
using namespace std::string_view_literals;
using Layout = std::vector<std::string>;

namespace {

// The names directly in `folder` that start with ".plovermantle".
std::vector<std::string> workingFoldersIn(const fs::path& folder) {
    std::vector<std::string> names = entries(folder);
    std::erase_if(names,
                  [](const std::string& name) { return !name.starts_with(".plovermantle"); });
    return names;
}

constexpr int replace = alertFirstButtonReturn;
constexpr int cancel = alertFirstButtonReturn + 1;

// One copy: what is chosen, where, what the alerts say, the old items the Trash gets, and the
// answer to a replace prompt.
struct Case {
    QByteArray world;   // null when none is selected
    std::string server; // in the scene; empty when none is in use
    Alerts alerts;
    Layout toTrash = {};
    int answer = replace;
    bool noExchange = false;
    std::string field = "shown";
    std::string saves = "saves";
    std::string dataHome = {}; // where the Trash is looked for, in the scene; empty: its own
    bool placeFails = false;   // the copy cannot take the old world's place
};

// Around the sample world: server folders with an old read-only world, one with its Nether and
// End, a Nether alone, a plain file and a link where the world goes, a crash's leftover, links to
// the saves folder and into the world, other worlds, and a world inside a folder of its own name.
const std::string leftover = ".plovermantle-staging-Lf0000";
const Layout surroundings{"f:taken/World/level.dat=old",
                          "d:taken/World/old-only",
                          "m:taken/World=0555",
                          "f:full/World/level.dat=old",
                          "f:full/World_nether/DIM-1/r=n",
                          "l:full/World_the_end>../elsewhere",
                          "f:nether/World_nether/r=n",
                          "d:cwd",
                          "f:plain/World=file",
                          "f:elsewhere/keep=k",
                          "l:linked/World>../elsewhere",
                          "f:taken/server.properties=level-name=old",
                          "f:full/server.properties=level-name=old",
                          "f:nether/server.properties=level-name=old",
                          "f:plain/server.properties=level-name=old",
                          "f:linked/server.properties=level-name=old",
                          "f:saves/World2/server.properties=level-name=old",
                          "l:link-to-saves>saves",
                          "l:link-to-world>saves/World",
                          "l:saves/Linked>World",
                          "f:saves/Locked/a=a",
                          "m:saves/Locked=0555",
                          "f:saves/Welt Größe 世界/a=a",
                          "f:outer/World/saves/World/a=a",
                          "f:server/.plovermantle-staging-Lf0000/World/a=half"};

// The scene without our working folders, checked on their own, or the server folder's own time,
// which even a copy that fails touches; with `server` false, without all of the server folder.
Snapshot disk(const CopyScene& scene, bool server = true) {
    const std::string folder = scene.server.lexically_relative(scene.root).string();
    Snapshot items = snapshotTree(scene.root);
    std::erase_if(items, [&](const auto& item) {
        return item.first == folder || item.first.find(".plovermantle-") != std::string::npos ||
               (!server && item.first.starts_with(folder + "/"));
    });
    return items;
}

// What the Trash holds, by the name each item had where it came from. A record left without its
// item, when removing it failed, names nothing.
std::map<std::string, Snapshot> trashed(const fs::path& trash) {
    std::map<std::string, Snapshot> items;
    for (const std::string& record : fs::exists(trash) ? entries(trash / "info") : Layout{}) {
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

// A copy among others' locks, and what it must come to.
struct LockCase {
    Layout layout = {};        // built in the scene
    Alerts alerts = {};        // every alert, in order
    std::string held = {};     // a session.lock that another process holds, in the scene
    bool atFlush = false;      // it is taken, or a staged file lost, only as the copy flushes
    bool copyLockHeld = false; // another copy holds the server folder
    Layout after = {};         // what the server folder holds afterwards
};

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

} // namespace

Q_DECLARE_METATYPE(Case)
Q_DECLARE_METATYPE(LockCase)

class WorldCopyTest : public QObject {
    Q_OBJECT

private slots:
    // Every branch, run as it is and then once with each of its file operations failing: either
    // everything stays exactly as it was, or the whole world arrives and only then is
    // server.properties pointed at it; the alerts say which, the success alert last and once.
    void copiesWholeOrNotAtAll_data() {
        QTest::addColumn<Case>("c");
        const auto row = [](const char* name, const Case& c) {
            QTest::newRow(name) << c;
        };
        const QByteArray none;
        const Alerts copied{worldCopied};
        const Alerts replaced{worldExists, worldCopied};
        const Layout world{"World"};
        row("new world", {"World", "server", copied});
        row("replaces a read-only world", {"World", "taken", replaced, world});
        row("replaces a world, no exchange", {"World", "taken", replaced, world, replace, true});
        row("replaces a plain file", {"World", "plain", replaced, world});
        row("replaces a link, not its target", {"World", "linked", replaced, world});
        row("with its Nether and End",
            {"World", "full", replaced, {"World", "World_nether", "World_the_end"}});
        row("only a Nether", {"World", "nether", replaced, {"World_nether"}});
        row("no Trash", {.world = "World",
                         .server = "full",
                         .alerts = replaced,
                         .dataHome = "plain/World/share"});
        row("copy cannot take the place", {.world = "World",
                                           .server = "full",
                                           .alerts = {worldExists, unableToReplace},
                                           .placeFails = true});
        row("Cancel keeps what is there", {"World", "taken", {worldExists}, {}, cancel});
        row("closing the prompt keeps it",
            {"World", "taken", {worldExists}, {}, alertClosedReturn});
        row("read-only world", {"Locked", "server", copied});
        row("name used exactly", {"Welt Größe 世界", "server", copied});
        row("server folder beside the world", {"World", "saves/World2", copied});
        row("empty field", {"World", "server", {comeOn}, {}, replace, false, ""});
        row("no world selected", {none, "server", {comeOn}});
        row("blank field, no world", {none, "server", {comeOn}, {}, replace, false, "  "});
        row("no server folder in use", {"World", "", {comeOn}});
        row("server folder is the saves folder", {"World", "saves", {serverIsSavesFolder}});
        row("the same through a link", {"World", "link-to-saves", {serverIsSavesFolder}});
        row("server folder is the world", {"World", "saves/World", {serverInsideWorld}});
        row("server folder deep in the world", {"World", "saves/World/DIM-1", {serverInsideWorld}});
        row("inside the world through a link", {"World", "link-to-world", {serverInsideWorld}});
        row("world inside what it replaces", {.world = "World",
                                              .server = "outer",
                                              .alerts = {worldInsideReplaced},
                                              .saves = "outer/World/saves"});
        row("world gone", {"Gone", "server", {unableToCopy}});
        row("world is a link", {"Linked", "server", {unableToCopy}});
        row("server folder gone, not made", {"World", "gone", {unableToCopy}});
    }

    void copiesWholeOrNotAtAll() {
        QFETCH(Case, c);
        const std::string name = c.world.toStdString();
        int total = 0;
        Snapshot before; // the same scene every time
        Snapshot outside;
        int clearing = 0; // the last operation on the crash's leftover
        const QString cwd = QDir::currentPath();
        const auto back = qScopeGuard([&] { QDir::setCurrent(cwd); });
        for (int n = 0; n <= total; ++n) {
            CopyScene s;
            buildTree(s.root, surroundings);
            s.server = s.root / c.server;
            s.files.exchangeUnsupported = c.noExchange;
            s.dialogs.alertAnswer = c.answer;
            // The process's own folder is in the scene: nothing may be written there.
            QDir::setCurrent(QString::fromStdString((s.root / "cwd").string()));
            if (!c.dataHome.empty()) {
                qputenv("XDG_DATA_HOME", QByteArray::fromStdString((s.root / c.dataHome).string()));
            }
            if (n == 0) {
                before = disk(s);
                outside = disk(s, false);
            }
            std::map<std::string, Snapshot> old; // the old items, as they were
            for (const std::string& item : worldItemNames(name)) {
                if (!c.server.empty() && fs::exists(fs::symlink_status(s.server / item))) {
                    old[item] = snapshotTree(s.server / item);
                }
            }
            s.files.failAt = {n};
            s.files.failIf = [&](const std::string& call) {
                return refusedByTheKernel(call) ||
                       (c.placeFails && call.starts_with("renameItem " + s.server.string() +
                                                         "/.plovermantle-staging-"));
            };
            s.copy({c.field, c.world.isNull() ? std::nullopt : std::optional(name),
                    (s.root / c.saves).string(), c.server.empty() ? "" : s.server.string()});

            const auto& calls = s.files.calls;
            for (std::size_t i = 0; n == 0 && i < calls.size(); ++i) {
                total = static_cast<int>(calls.size());
                clearing = calls[i].ends_with(leftover) ? static_cast<int>(i) + 1 : clearing;
            }
            const std::string call = n == 0 ? "" : calls[static_cast<std::size_t>(n) - 1];
            const QByteArray where = QByteArray::fromStdString(call);
            const std::string failed = call.substr(0, call.find(' '));
            const bool rewriteFailed = failed == "readTextFile" || failed == "writeFileAtomically";
            // A folder whose bits could not be set keeps its owner's write bit, whole all the same.
            const std::string unset = failed == "setAttributes"
                                          ? fs::path(call.substr(14, call.size() - 21))
                                                .lexically_relative(s.root)
                                                .string()
                                          : "";
            // Every old item that went to the Trash, and only those, can be put back from it.
            const auto inTrash = trashed(s.trash);
            Layout toTrash;
            for (const auto& [item, items] : inTrash) {
                if (items == old[item]) {
                    toTrash.push_back(item);
                }
            }
            QVERIFY2(n > 0 || (toTrash == c.toTrash && inTrash.size() == toTrash.size()), where);
            // Each item with its record; a record without its item only when removing it failed.
            const auto count = [&](const char* part) {
                return fs::exists(s.trash) ? entries(s.trash / part).size() : 0;
            };
            QVERIFY2(count("files") == inTrash.size() &&
                         (count("info") == inTrash.size() || failed == "removeTree"),
                     where);
            Alerts told = s.dialogs.alerts;
            QVERIFY2(n > 0 || told == c.alerts, where);
            if (!told.empty() && told.back() == worldCopied) {
                // The rewrite tells its failure; a file it could not read is not backed up.
                const Alert rewriteAlert =
                    failed == "readTextFile" ? propsUnreadable : propsWriteFailed;
                QVERIFY2(!rewriteFailed || *(told.end() - 2) == rewriteAlert, where);
                if (rewriteFailed) {
                    told.erase(told.end() - 2);
                }
                const bool backedUp = failed != "readTextFile" && !call.ends_with("backup FAILED");
                QVERIFY2(readFile(s.backup()) == (backedUp ? "level-name=old" : ""), where);
                QVERIFY2(told == c.alerts, where);
                Snapshot arrived = snapshotTree(s.server / name);
                Snapshot source = snapshotTree(s.saves / name);
                if (unset == c.server + "/" + name) {
                    arrived.erase("");
                    source.erase("");
                }
                QVERIFY2(arrived == source, where);
                for (const auto& [item, items] : old) {
                    QVERIFY2(item == name || !fs::exists(fs::symlink_status(s.server / item)),
                             where);
                }
                QVERIFY2(disk(s, false) == outside, where);
                const std::string props = rewriteFailed ? "old" : name;
                QVERIFY2(readFile(s.props()) == "level-name=" + props, where);
            } else {
                QVERIFY2(!rewriteFailed, where);
                QVERIFY2(told == c.alerts || told.back() == unableToCopy ||
                             told.back() == unableToReplace,
                         where);
                // Each old item is in its place, or whole in the Trash.
                Snapshot expected = before;
                Snapshot now = disk(s);
                for (const std::string& item : toTrash) {
                    const std::string path = c.server + "/" + item;
                    std::erase_if(expected, [&](const auto& entry) {
                        return entry.first == path || entry.first.starts_with(path + "/");
                    });
                }
                expected.erase(unset);
                now.erase(unset);
                QVERIFY2(now == expected, where);
            }
            // Only a failed removal, or a failure before the crash's leftover is cleared, leaves
            // working folders; the next copy clears them and changes nothing else.
            if (fs::is_directory(s.server) && !workingFoldersIn(s.server).empty()) {
                const bool crashs = workingFoldersIn(s.server) == Layout{leftover};
                QVERIFY2(failed == "removeTree" ||
                             (crashs && (clearing == 0 || (n > 0 && n <= clearing))),
                         where);
                const Snapshot now = disk(s);
                PosixFileSystem files;
                recoverLeftovers(files, s.server.string());
                QVERIFY2(workingFoldersIn(s.server).empty() && disk(s) == now, where);
            }
        }
    }

    // An old world whose way back fails waits in its hidden folder with its Nether, and the next
    // copy into that server folder puts them back; other leftovers of a crash go, the user's
    // look-alikes, files and links of our names among them, stay.
    void aWorldSetAsideComesBackLater() {
        CopyScene s;
        buildTree(s.server,
                  {"f:World/level.dat=old", "f:World_nether/r=n", "f:Kept/level.dat=current"});
        const auto theirs = [&] { // the server folder's items but ours
            Snapshot items = snapshotTree(s.server);
            std::erase_if(items, [](const auto& item) {
                return item.first.empty() || item.first.starts_with(".plovermantle");
            });
            return items;
        };
        const Snapshot old = theirs();
        s.files.exchangeUnsupported = true;
        s.files.failIf = [](const std::string& call) {
            return call.starts_with("moveToTrash") ||
                   (call.starts_with("renameItem") && call.find("/.plovermantle-") != call.npos);
        };
        s.copy();
        QCOMPARE(s.dialogs.alerts, (Alerts{worldExists, unableToReplace}));
        QCOMPARE(
            std::ranges::count_if(s.files.calls, [](auto& c) { return c.ends_with("FAILED"); }), 4);
        QVERIFY(!fs::exists(s.server / "World"));

        buildTree(s.server,
                  {"f:.plovermantle-aside-Zz99Yy/Kept/level.dat=previous",
                   "f:.plovermantle-staging-Qq11Ww/World/level.dat=half",
                   "f:.plovermantle-aside-Two222/A=a", "f:.plovermantle-aside-Two222/B=b",
                   "f:.plovermantle-staging-notes=mine", "f:.plovermantle-staging-Ab12Cd=mine",
                   "l:.plovermantle-aside-Ab12Cd>.."});
        s.files.failIf = {};
        s.dialogs.alerts.clear();
        s.dialogs.alertAnswer = cancel;
        s.copy();
        QCOMPARE(s.dialogs.alerts, Alerts{worldExists});
        QCOMPARE(theirs(), old);
        QCOMPARE(workingFoldersIn(s.server),
                 (Layout{".plovermantle-aside-Ab12Cd", ".plovermantle-aside-Two222",
                         ".plovermantle-staging-Ab12Cd", ".plovermantle-staging-notes"}));
    }

    // Progress climbs to the total and reaches it once. Cancel mid-copy, or after the last file
    // while the copy goes to the disk, leaves the server folder as it was and says nothing more.
    void progressAndCancel_data() {
        QTest::addColumn<bool>("replacing");
        QTest::addColumn<bool>("whileFlushing");
        QTest::newRow("new world") << false << false;
        QTest::newRow("replacing") << true << false;
        QTest::newRow("replacing, while flushing") << true << true;
    }

    void progressAndCancel() {
        QFETCH(bool, replacing);
        QFETCH(bool, whileFlushing);
        CopyScene whole;
        whole.copy();
        const auto& reports = whole.dialogs.reports;
        QVERIFY(!reports.empty());
        const WorkProgress last = reports.back();
        QVERIFY(last.filesTotal > 0 && last.bytesTotal > 0);
        QCOMPARE(last, (WorkProgress{last.filesTotal, last.filesTotal, last.bytesTotal,
                                     last.bytesTotal}));
        QCOMPARE(std::count(reports.begin(), reports.end(), last), 1);
        QVERIFY(std::ranges::is_sorted(reports, [](const auto& a, const auto& b) {
            return a.bytesDone < b.bytesDone || a.filesDone < b.filesDone;
        }));

        // The whole copy's last call asks before the swap.
        const std::size_t calls = whileFlushing ? whole.dialogs.reportCalls : 3;
        CopyScene s;
        if (replacing) {
            buildTree(s.server, {"f:World/level.dat=old"});
        }
        const Snapshot before = disk(s);
        s.dialogs.cancelAfterCalls = calls;
        s.copy();
        QCOMPARE(s.dialogs.reportCalls, calls);
        QCOMPARE(std::ranges::any_of(s.files.calls, [](auto& c) { return c.starts_with("flush"); }),
                 whileFlushing);
        QCOMPARE(s.dialogs.alerts, replacing ? Alerts{worldExists} : Alerts{});
        QCOMPARE(disk(s), before);
        QVERIFY(workingFoldersIn(s.server).empty());
    }

    // Every line holding level-name, and nothing else, points at the world, once the old text is
    // backed up; text that is not UTF-8 is left alone, and so is the older backup.
    void rewritesLevelNameLines_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("world");
        QTest::addColumn<QByteArray>("expected"); // null when left alone
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
        // Long enough to take many reads, with a NUL; the rewrite is shorter, so no tail may
        // remain.
        const std::string big = "x=" + std::string(200'000, 'x') + '\0' + "\r\n";
        row("long", "level-name=a\r\n" + big + "#LEVEL-NAME=b\r\n", "W",
            "level-name=W\n" + big + "level-name=W\n");
        QTest::newRow("not UTF-8")
            << QByteArray("motd=Gr\xf6\xdf\nlevel-name=old\n") << QByteArray("W") << QByteArray();
    }

    void rewritesLevelNameLines() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, world);
        QFETCH(QByteArray, expected);
        CopyScene s;
        s.server = s.root / "Mein Server Größe";
        writeFile(s.backup(), "older backup");
        writeFile(s.props(), text.toStdString());
        rewriteServerProps(s.platform, s.server.string(), world.toStdString());
        const bool leftAlone = expected.isNull();
        QCOMPARE(s.dialogs.alerts, leftAlone ? Alerts{propsUnreadable} : Alerts{});
        QCOMPARE(bytes(readFile(s.props())), leftAlone ? text : expected);
        QCOMPARE(bytes(readFile(s.backup())), leftAlone ? QByteArray("older backup") : text);
        // Nothing else is left in the folder, a temporary file least of all.
        QCOMPARE(entries(s.server), (Layout{"server.properties", "server.properties.backup"}));
    }

    // What others use is left alone. A world the game or a server has open is neither copied nor
    // replaced, even when the server starts during the copy; a lock file alone, a link to a lock,
    // or another world's lock is no obstacle. A second copy into a server folder touches nothing;
    // only our own leftover folders are cleaned up, a world set aside comes back with its Nether,
    // and a link planted as the lock file leads nowhere. A staged tree that lost a file is not
    // placed.
    void leavesAloneWhatOthersUse_data() {
        QTest::addColumn<LockCase>("c");
        const auto row = [](const char* name, const LockCase& c) {
            QTest::newRow(name) << c;
        };
        const Alerts copied{worldExists, worldCopied};
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
        QFETCH(LockCase, c);
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

QTEST_MAIN(WorldCopyTest)
#include "WorldCopyTest.moc"
