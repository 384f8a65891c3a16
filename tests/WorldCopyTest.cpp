// A world's copy into the server folder, past the game's and the server's locks and one at a time,
// Replace to the Trash or into a kept folder, and the server.properties rewrite that follows it.
#include "worlds/WorldCopy.h"

#include "support/CopyScene.h"
#include "worlds/ServerProperties.h"
#include "worlds/StagedCopy.h"

#include <QDir>
#include <QScopeGuard>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
using namespace Plovermantle::Messages;
namespace fs = std::filesystem;
using namespace std::string_view_literals;

namespace {

const std::string kept(replacedFolderName);

// The names directly in `folder` that start with ".plovermantle", but the kept old worlds.
std::vector<std::string> workingFoldersIn(const fs::path& folder) {
    std::vector<std::string> names = entries(folder);
    std::erase_if(names, [](const std::string& name) {
        return !name.starts_with(".plovermantle") || name == kept;
    });
    return names;
}

// The alerts as a test names them: "World exists!" without what Replace does, checked on its own.
Alerts plain(Alerts alerts) {
    for (Alert& alert : alerts) {
        if (alert.messageText == worldExists.messageText) {
            alert.informativeText = worldExists.informativeText;
        }
    }
    return alerts;
}

// One copy: what is chosen, where, what the alerts say, the old items the Trash gets or that are
// kept in the server folder, and the answer to each prompt.
struct Case {
    std::string world;
    std::string server;
    Alerts alerts;
    Layout toTrash = {};
    Layout toKeep = {};
    int answer = replace;
    std::string saves = "saves";
    std::string dataHome = {}; // where the Trash is looked for, in the scene; empty: its own
    bool placeFails = false;   // the copy cannot take the old world's place
};

// Around the sample world: server folders with an old read-only world, one with its Nether and
// End, a Nether alone, a plain file and a link where the world goes, a crash's leftover, links to
// the saves folder and into the world, other worlds, and a world inside a folder of its own name;
// then each server folder's server.properties.
const std::string leftover = ".plovermantle-staging-Lf0000";
void buildSurroundings(const fs::path& root) {
    buildTree(root, {"f:taken/World/level.dat=old", "d:taken/World/old-only", "m:taken/World=0555",
                     "f:full/World/level.dat=old", "f:full/World_nether/DIM-1/r=n",
                     "l:full/World_the_end>../elsewhere", "f:nether/World_nether/r=n",
                     "f:plain/World=file", "f:elsewhere/keep=k", "l:linked/World>../elsewhere",
                     "f:server/" + leftover + "/World/a=half", "d:bare", "d:cwd"});
    buildTree(root, {"l:link-to-saves>saves", "l:link-to-world>saves/World", "l:saves/Linked>World",
                     "f:saves/Locked/a=a", "m:saves/Locked=0555", "f:saves/Welt Größe 世界/a=a",
                     "f:outer/World/saves/World/a=a", "f:nameless/server.properties=motd=hi"});
    for (const char* server : {"taken", "full", "nether", "plain", "linked", "saves/World2"}) {
        buildTree(root, {"f:" + std::string(server) + "/server.properties=level-name=old"});
    }
}

// The tree at `root` without our working folders, checked on their own, and without the time of
// `folder`, which even a copy that fails touches; with `inside` false, without all of `folder`.
Snapshot disk(const fs::path& root, const std::string& folder = "", bool inside = true) {
    Snapshot items = snapshotTree(root);
    std::erase_if(items, [&](const auto& item) {
        return item.first == folder || item.first.find(".plovermantle-") != std::string::npos ||
               (!inside && item.first.starts_with(folder + "/"));
    });
    return items;
}
Snapshot disk(const CopyScene& scene, bool server = true) {
    return disk(scene.root, scene.server.lexically_relative(scene.root).string(), server);
}

// The items directly in `folder`, by name; none when there is no such folder.
std::map<std::string, Snapshot> itemsIn(const fs::path& folder) {
    std::map<std::string, Snapshot> items;
    for (const std::string& name : fs::is_directory(folder) ? entries(folder) : Layout{}) {
        items[name] = snapshotTree(folder / name);
    }
    return items;
}

// As for every user but root: a folder only moves into another folder when its owner may write it.
bool refusedByTheKernel(const fs::path& server, const FolderCall& call) {
    struct stat status {};
    return (call.operation == "moveToTrash" || call.operation == "rename") &&
           ::lstat((server / call.path).c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           (status.st_mode & S_IWUSR) == 0;
}

// A copy among others' locks and owners, and what it must come to.
struct LockCase {
    Layout layout = {};        // built in the scene
    Alerts alerts = {};        // every alert, in order
    std::string held = {};     // a session.lock that another process holds, in the scene
    bool atFlush = false;      // it is taken, or a staged file lost, only as the copy flushes
    bool copyLockHeld = false; // another copy of this computer holds the server folder
    std::deque<int> answers = {};
    Layout after = {}; // what the server folder holds afterwards
    CopyOutcome outcome = CopyOutcome::Failed;
    std::optional<Account> account = {};
    int cancel = 0; // Cancel is pressed: 1 at the third progress call, 2 at the one after the flush
};

// A copy lock left by a crash on another computer sharing the folder.
const std::string foreignLock = "f:server/.plovermantle.lock=host=far-away\npid=99999\n"
                                "since=2026-12-01T08:00:00Z\n";

const Layout sessionLocks{"f:saves/World/session.lock=☃", "f:server/World/session.lock=☃",
                          "f:server/World_nether/session.lock=☃", "f:server/Other/session.lock=☃",
                          "l:server/World_the_end/session.lock>../Other/session.lock"};

} // namespace

Q_DECLARE_METATYPE(Case)
Q_DECLARE_METATYPE(LockCase)

class WorldCopyTest : public QObject {
    Q_OBJECT

private slots:
    // Every branch, run as it is and then once with each of the folder's operations failing:
    // either everything stays as it was, each old item in its place or whole in the Trash or kept
    // in the server folder, or the whole world arrives and only then is server.properties pointed
    // at it; no old item is ever lost, and the alerts say which, the success alert last and once.
    void copiesWholeOrNotAtAll_data() {
        QTest::addColumn<Case>("c");
        const auto row = [](const char* name, const Case& c) {
            QTest::newRow(name) << c;
        };
        const Alerts copied{worldCopied};
        const Alerts replaced{worldExists, worldCopied};
        const Layout world{"World"};
        const Layout all{"World", "World_nether", "World_the_end"};
        const std::string line = "level-name=World";
        row("new world", {"World", "server", copied});
        row("replaces a read-only world", {"World", "taken", replaced, world});
        row("replaces a plain file", {"World", "plain", replaced, world});
        row("replaces a link, not its target", {"World", "linked", replaced, world});
        row("with its Nether and End", {"World", "full", replaced, all});
        row("only a Nether", {"World", "nether", replaced, {"World_nether"}});
        // Fields past the answer: the saves folder, the Trash's data folder, and a failed rename.
        row("no Trash: kept in the folder",
            {"World", "full", replaced, {}, all, replace, "saves", "plain/World/share"});
        row("copy cannot take the place",
            {"World", "full", {worldExists, unableToReplace}, {}, {}, replace, "saves", {}, true});
        row("Cancel keeps what is there", {"World", "taken", {worldExists}, {}, {}, cancel});
        row("closing the prompt keeps it",
            {"World", "taken", {worldExists}, {}, {}, alertClosedReturn});
        row("read-only world", {"Locked", "server", copied});
        row("name used exactly", {"Welt Größe 世界", "server", copied});
        row("server folder beside the world", {"World", "saves/World2", copied});
        row("no server.properties, copied anyway",
            {"World", "bare", {noServerProperties, propsNotRead(line), worldCopied}});
        row("no server.properties, cancelled",
            {"World", "bare", {noServerProperties}, {}, {}, cancel});
        row("no level-name line", {"World", "nameless", {noLevelNameLine(line), worldCopied}});
        row("server folder is the saves folder", {"World", "saves", {serverIsSavesFolder}});
        row("the same through a link", {"World", "link-to-saves", {serverIsSavesFolder}});
        row("server folder is the world", {"World", "saves/World", {serverInsideWorld}});
        row("server folder deep in the world", {"World", "saves/World/DIM-1", {serverInsideWorld}});
        row("inside the world through a link", {"World", "link-to-world", {serverInsideWorld}});
        row("world inside what it replaces",
            {"World", "outer", {worldInsideReplaced}, {}, {}, replace, "outer/World/saves"});
        row("world gone", {"Gone", "server", {unableToCopy}});
        row("world is a link", {"Linked", "server", {unableToCopy}});
        row("server folder gone", {"World", "gone", {serverFolderUnusable}});
        row("server folder is a file", {"World", "plain/World", {serverFolderUnusable}});
    }

    void copiesWholeOrNotAtAll() {
        QFETCH(Case, c);
        int total = 0;
        Snapshot before, outside; // the same scene every time
        int clearing = 0;         // the last operation on the crash's leftover
        const QString cwd = QDir::currentPath();
        const auto back = qScopeGuard([&] { QDir::setCurrent(cwd); });
        for (int n = 0; n <= total; ++n) {
            CopyScene s;
            buildSurroundings(s.root);
            s.server = s.root / c.server;
            s.saves = s.root / c.saves;
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
            for (const std::string& item : worldItemNames(c.world)) {
                if (fs::exists(fs::symlink_status(s.server / item))) {
                    old[item] = snapshotTree(s.server / item);
                }
            }
            s.folder.failAt = n;
            s.folder.failIf = [&](const FolderCall& call) {
                return refusedByTheKernel(s.server, call) ||
                       (c.placeFails && call.operation == "rename" &&
                        call.path.starts_with(stagingFolderPrefix));
            };
            const CopyOutcome outcome = s.copy(c.world);

            const auto& calls = s.folder.calls;
            for (std::size_t i = 0; n == 0 && i < calls.size(); ++i) {
                total = static_cast<int>(calls.size());
                clearing = calls[i].path == leftover ? static_cast<int>(i) + 1 : clearing;
            }
            const FolderCall failed =
                n == 0 ? FolderCall{} : calls[static_cast<std::size_t>(n) - 1];
            const QByteArray where =
                QByteArray::fromStdString(failed.operation + ' ' + failed.path);
            // A folder whose bits could not be set keeps its owner's write bit, whole all the same.
            const std::string unset =
                failed.operation == "setPermissions" ? c.server + "/" + failed.path : "";
            // Each old item is in its place, or whole in the Trash or kept in the server folder
            // (the folder itself may keep the write bit it was given to be moved).
            const bool copied = !s.dialogs.alerts.empty() && s.dialogs.alerts.back() == worldCopied;
            // A fresh Trash, where each item keeps its name; kept ones are in a folder per Replace.
            auto inTrash = itemsIn(s.trash / "files");
            std::map<std::string, Snapshot> inKept;
            for (const auto& [stamp, items] : itemsIn(s.server / kept)) {
                inKept.merge(itemsIn(s.server / kept / stamp));
            }
            Layout toTrash, toKeep;
            for (auto [item, items] : old) {
                items.erase("");
                const bool here = !copied && fs::exists(fs::symlink_status(s.server / item));
                const auto in = [&](auto& place) {
                    return place.contains(item) && place[item].erase("") && place[item] == items;
                };
                const bool binned = in(inTrash);
                const bool isKept = in(inKept);
                QVERIFY2(here + binned + isKept == 1, where);
                if (!here) {
                    (binned ? toTrash : toKeep).push_back(item);
                }
            }
            QVERIFY2(inTrash.size() == toTrash.size() && inKept.size() == toKeep.size(), where);
            QVERIFY2(n > 0 || (toTrash == c.toTrash && toKeep == c.toKeep), where);
            Alerts told = plain(s.dialogs.alerts);
            QVERIFY2(n > 0 || told == c.alerts, where);
            // A lock that cannot be examined is a question for the user, not a guess.
            std::erase(told, serverRunningUnknown);
            if (copied) {
                // The rewrite tells its failure, and then server.properties is as it was.
                const auto rewriteAlert = [](const Alert& alert) {
                    return alert == propsWriteFailed ||
                           alert.informativeText.starts_with("The world was copied, but") ||
                           alert.informativeText.starts_with("server.properties has no");
                };
                const bool propsAlert = std::ranges::any_of(told, rewriteAlert);
                Alerts expected = c.alerts;
                std::erase_if(told, rewriteAlert);
                std::erase_if(expected, rewriteAlert);
                QVERIFY2(told == expected, where);
                const std::string oldProps = c.server == "nameless" ? "motd=hi" : "level-name=old";
                if (fs::exists(s.props())) {
                    const bool pointed = readFile(s.props()) == levelNameLine(c.world);
                    QVERIFY2(pointed != propsAlert, where);
                    QVERIFY2(pointed || readFile(s.props()) == oldProps, where);
                    QVERIFY2(!fs::exists(s.backup()) || readFile(s.backup()) == oldProps, where);
                    QVERIFY2(pointed == (outcome == CopyOutcome::Deployed), where);
                }
                // The success alert says where old worlds were kept, when they were.
                QVERIFY2(s.dialogs.shown.back().details.empty() == inKept.empty(), where);
                Snapshot arrived = snapshotTree(s.server / c.world);
                Snapshot source = snapshotTree(s.saves / c.world);
                if (unset == c.server + "/" + c.world) {
                    arrived.erase("");
                    source.erase("");
                }
                QVERIFY2(arrived == source, where);
                QVERIFY2(disk(s, false) == outside, where);
            } else {
                QVERIFY2(told == c.alerts || told.empty() || told.back() == unableToCopy ||
                             told.back() == unableToReplace || told.back() == serverFolderUnusable,
                         where);
                const Alert& last = c.alerts.back();
                QVERIFY2(n > 0 || outcome == (last == worldExists ? CopyOutcome::WorldExists
                                              : last == noServerProperties ? CopyOutcome::Cancelled
                                                                           : CopyOutcome::Failed),
                         where);
                QVERIFY2(outcome != CopyOutcome::Deployed, where);
                Snapshot expected = before;
                Snapshot now = disk(s);
                std::erase_if(expected, [&](const auto& entry) {
                    if (!entry.first.starts_with(c.server + "/")) {
                        return false;
                    }
                    const std::string item = entry.first.substr(c.server.size() + 1);
                    const std::string top = item.substr(0, item.find('/'));
                    return old.contains(top) && !fs::exists(fs::symlink_status(s.server / top));
                });
                expected.erase(unset);
                now.erase(unset);
                QVERIFY2(now == expected, where);
            }
            // Only a failed removal, or a failure before the crash's leftover is cleared, leaves
            // working folders; the next copy clears them and changes nothing else.
            if (fs::is_directory(s.server) && !workingFoldersIn(s.server).empty()) {
                const bool crashs = workingFoldersIn(s.server) == Layout{leftover};
                QVERIFY2(failed.operation == "removeTree" ||
                             (crashs && (clearing == 0 || (n > 0 && n <= clearing))),
                         where);
                const Snapshot now = disk(s.server);
                const auto folder = LocalServerFolder::open(s.server.string());
                recoverLeftovers(*folder);
                QVERIFY2(workingFoldersIn(s.server).empty() && disk(s.server) == now, where);
            }
        }
    }

    // What Replace does is named, with every item it moves and where to, each name isolated.
    void replacePromptSaysWhatReplaceDoes() {
        QCOMPARE(
            replacePrompt({"B", "B_nether", "B_the_end"}, "/srv/mc", false).informativeText,
            "Do you want to replace? Replace moves “\u2068B\u2069”, “\u2068B_nether\u2069” and "
            "“\u2068B_the_end\u2069” in “\u2068/srv/mc\u2069” to the Trash.");
        QCOMPARE(replacePrompt({"B_nether"}, "alex@host:/srv/mc", true).informativeText,
                 "Do you want to replace? Replace moves “\u2068B_nether\u2069” in "
                 "“\u2068alex@host:/srv/mc\u2069” to its .plovermantle-replaced folder.");
    }

    // Leftovers of a crash: our staging folders and temporary files go, a world set aside by an
    // older version comes back with its Nether while its name is free and is kept otherwise; what
    // others made, look-alikes of our names and kept worlds stay.
    void recoversLeftovers() {
        CopyScene s;
        // Ours first, then what only looks like it, and a world kept before.
        buildTree(s.server,
                  {"f:.plovermantle-aside-Zz99Yy/Kept/level.dat=previous",
                   "f:.plovermantle-aside-Aa11Bb/World/level.dat=back",
                   "f:.plovermantle-aside-Aa11Bb/World_nether/r=n",
                   "f:.plovermantle-staging-Qq11Ww/World/level.dat=half",
                   "f:.server.properties.Xy12Zw=level-name=half", "f:Kept/level.dat=current",
                   "f:.plovermantle-staging-notes=mine", "f:.plovermantle-staging-Ab12Cd=mine",
                   "l:.plovermantle-aside-Ab12Cd>..", "f:.server.properties.notes=mine",
                   "d:.server.properties.Dd44Ee",
                   "f:.plovermantle-replaced/2020-01-01T00-00-00Z/Old/a=a"});
        const Snapshot aside = snapshotTree(s.server / ".plovermantle-aside-Zz99Yy");
        const Snapshot back = snapshotTree(s.server / ".plovermantle-aside-Aa11Bb/World");
        const auto folder = LocalServerFolder::open(s.server.string());
        recoverLeftovers(*folder, std::chrono::system_clock::from_time_t(1796638500));
        QCOMPARE(snapshotTree(s.server / ".plovermantle-replaced/2026-12-07T10-15-00Z"), aside);
        QCOMPARE(snapshotTree(s.server / "World"), back);
        QVERIFY(fs::exists(s.server / "World_nether/r"));
        QCOMPARE(entries(s.server),
                 (Layout{".plovermantle-aside-Ab12Cd", ".plovermantle-replaced",
                         ".plovermantle-staging-Ab12Cd", ".plovermantle-staging-notes",
                         ".server.properties.Dd44Ee", ".server.properties.notes", "Kept", "World",
                         "World_nether", "server.properties"}));
        QCOMPARE(entries(s.server / ".plovermantle-replaced"),
                 (Layout{"2020-01-01T00-00-00Z", "2026-12-07T10-15-00Z"}));
        if (::geteuid() == 0) { // a leftover another account made is not ours to walk
            const fs::path other = s.server / ".plovermantle-staging-Ot4er1";
            buildTree(other, {"f:x=theirs"});
            QCOMPARE(::chown(other.c_str(), serverUser, serverUser), 0);
            recoverLeftovers(*folder);
            QVERIFY(fs::exists(other / "x"));
        }
    }

    // Who the copied world is made for, so that the server's account (500, which owns
    // server.properties; the folder's group is 600) can write it.
    void plansOwnership() {
        ItemInfo folder, props;
        folder.group = 600;
        props.owner = 500;
        // The sink's owner, group and group write, and the account that could not write the copy.
        using Plan = std::tuple<std::optional<std::uint32_t>, std::optional<std::uint32_t>, bool,
                                std::optional<std::uint32_t>>;
        const auto plan = [&](std::optional<Account> account, bool acl = false) {
            const auto [made, asks] = planOwnership(account, folder, props, acl);
            return Plan(made.owner, made.group, made.groupWritable, asks);
        };
        QCOMPARE(plan(Account{0, {0}}), Plan(500, 600, false, {})); // root
        QCOMPARE(plan(Account{500, {500}}), Plan());                // the server's own account
        QCOMPARE(plan(Account{700, {700, 600}}), Plan({}, 600, true, {})); // in the folder's group
        QCOMPARE(plan(Account{700, {700}}), Plan({}, {}, false, 500));     // an outsider
        QCOMPARE(plan(Account{700, {700}}, true), Plan()); // one a default ACL lets in
        QCOMPARE(plan({}), Plan());                        // account unknown
    }

    // Progress climbs to the total and reaches it once.
    void reportsProgress() {
        CopyScene s;
        s.copy();
        const auto& reports = s.dialogs.reports;
        QVERIFY(!reports.empty());
        const WorkProgress last = reports.back();
        QVERIFY(last.filesTotal > 0 && last.bytesTotal > 0);
        QCOMPARE(last, (WorkProgress{last.filesTotal, last.filesTotal, last.bytesTotal,
                                     last.bytesTotal}));
        QCOMPARE(std::count(reports.begin(), reports.end(), last), 1);
        QVERIFY(std::ranges::is_sorted(reports, [](const auto& a, const auto& b) {
            return a.bytesDone < b.bytesDone || a.filesDone < b.filesDone;
        }));
    }

    // Every line holding level-name, and nothing else, points at the world, written so that both
    // of Java's readers, ISO-8859-1 and UTF-8, take back exactly the folder's name.
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
        row("CRLF elsewhere kept", "a\r\nlevel-name=x\r\nb\r\n", "W", "a\r\nlevel-name=W\nb\r\n");
        row("NULs and Latin-1 kept", "a=\0\xe9\nlevel-name=x\0\n\0"sv, "W",
            "a=\0\xe9\nlevel-name=W\n\0"sv);
        // Names each reader would change unless escaped.
        row("ASCII verbatim", "level-name=x\n", "A = b!#:", "level-name=A = b!#:\n");
        row("beyond ASCII", "level-name=x\n", "Café Wörld ☃",
            "level-name=Caf\\u00E9 W\\u00F6rld \\u2603\n");
        row("beyond the BMP", "level-name=x\n", "🌍", "level-name=\\uD83C\\uDF0D\n");
        row("backslashes", "level-name=x\nb=2\n", "a\\b\\", "level-name=a\\\\b\\\\\nb=2\n");
        row("line breaks", "level-name=x\n", "a\rb\nc", "level-name=a\\rb\\nc\n");
        row("leading blanks", "level-name=x\n", "  World", "level-name=\\  World\n");
        row("tab, form feed, control", "level-name=x\n", "\t\fW\x01",
            "level-name=\\t\\fW\\u0001\n");
        row("overlong and surrogate bytes", "level-name=x\n", "\xe0\x80\x80\xed\xa0\x80",
            "level-name=" + QByteArray("\\uFFFD").repeated(6).toStdString() + "\n");
    }

    void rewritesLevelNameLines() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, world);
        QFETCH(QByteArray, expected);
        const std::string out = rewriteServerPropsText(text.toStdString(), world.toStdString());
        QCOMPARE(bytes(out), expected);
    }

    // What others use is left alone. A world the game or a server has open is neither copied nor
    // replaced, even when it is opened during the copy; a lock file alone, a link to a lock, or
    // another world's lock is no obstacle. A second copy into a server folder touches nothing; a
    // lock of another computer is removed only when the user confirms it. A staged tree that lost
    // a file is not placed. A server that could not write the world is named before copying, and
    // a server.properties too large to be one is refused before anything is copied. Cancel,
    // mid-copy or as the copy goes to the disk, leaves the server folder as it was and asks nothing
    // more.
    void leavesAloneWhatOthersUse_data() {
        QTest::addColumn<LockCase>("c");
        const auto row = [](const char* name, const LockCase& c) {
            QTest::newRow(name) << c;
        };
        const Alerts copied{worldExists, worldCopied};
        const auto done = CopyOutcome::Deployed;
        const auto cancelled = CopyOutcome::Cancelled;
        row("open in the game", {sessionLocks, {worldOpenInGame}, "saves/World"});
        row("run by the server", {sessionLocks, {serverRunsWorld}, "server/World"});
        row("its Nether run", {sessionLocks, {serverRunsWorld}, "server/World_nether"});
        row("server started meanwhile",
            {sessionLocks, {worldExists, serverRunsWorld}, "server/World", true});
        row("game opened it meanwhile",
            {sessionLocks, {worldExists, worldChangedWhileCopied}, "saves/World", true});
        row("another world run",
            {.layout = sessionLocks, .alerts = copied, .held = "server/Other", .outcome = done});
        row("staged file lost", {sessionLocks, {worldExists, unableToCopy}, "", true});
        const std::string staging = std::string(stagingFolderPrefix) + "Ab12Cd";
        const std::string lock(copyLockName);
        row("another copy under way", {.layout = {"f:server/" + staging + "/World/a=half"},
                                       .alerts = {anotherCopyUnderWay},
                                       .copyLockHeld = true,
                                       .after = {staging, lock, "server.properties"}});
        row("lock of another computer, removed",
            {.layout = {foreignLock},
             .alerts = {anotherCopy({}, true), confirmLockRemoval, worldCopied},
             .answers = {alertFirstButtonReturn + 1, alertFirstButtonReturn},
             .after = {"World", "server.properties", "server.properties.backup"},
             .outcome = done});
        row("lock of another computer, kept",
            {.layout = {foreignLock},
             .alerts = {anotherCopy({}, true), confirmLockRemoval},
             .answers = {alertFirstButtonReturn + 1, alertFirstButtonReturn + 1},
             .after = {lock, "server.properties"},
             .outcome = cancelled});
        row("server.properties too large to be one",
            {.layout = {"f:server/server.properties=" + std::string(serverPropsMaxBytes + 1, '#')},
             .alerts = {propsTooLarge},
             .after = {"server.properties"}});
        const Layout old{"f:server/World/level.dat=old"};
        row("Cancel mid-copy",
            {.layout = old, .alerts = {worldExists}, .outcome = cancelled, .cancel = 1});
        row("Cancel as it flushes",
            {.layout = old, .alerts = {worldExists}, .outcome = cancelled, .cancel = 2});
        row("server's account could not write it", {.alerts = {serverCannotWrite("root")},
                                                    .answers = {alertFirstButtonReturn + 1},
                                                    .after = {"server.properties"},
                                                    .outcome = cancelled,
                                                    .account = Account{4242, {4242}}});
    }

    void leavesAloneWhatOthersUse() {
        QFETCH(LockCase, c);
        CopyScene s;
        buildTree(s.root, c.layout);
        const Snapshot before = disk(s.server);
        GameLock lock;
        const fs::path sessionLock = s.root / c.held / "session.lock";
        QVERIFY(c.held.empty() || c.atFlush || lock.take(sessionLock));
        s.folder.failIf = [&](const FolderCall& call) {
            if (c.atFlush && call.operation == "flush") {
                c.held.empty() ? (void)fs::remove(s.server / call.path / "World/level.dat")
                               : (void)lock.take(sessionLock);
            }
            if (c.cancel == 2 && call.operation == "flush") {
                s.dialogs.cancelAfterCalls = s.dialogs.reportCalls + 1;
            }
            return false;
        };
        s.dialogs.cancelAfterCalls = c.cancel == 1 ? 3 : SIZE_MAX;
        s.folder.accountAs = c.account;
        const auto other = LocalServerFolder::open(s.server.string());
        const CopyLockAttempt held =
            c.copyLockHeld ? other->lockExclusively(std::string(copyLockName)) : CopyLockAttempt{};
        QVERIFY(!c.copyLockHeld || held.outcome == LockOutcome::Taken);
        s.dialogs.answers = c.answers;
        QCOMPARE(s.copy(), c.outcome);
        QCOMPARE(plain(s.dialogs.alerts), c.alerts);
        if (!c.after.empty()) {
            QCOMPARE(entries(s.server), c.after);
        } else if (c.alerts.back() == worldCopied) {
            QCOMPARE(snapshotTree(s.server / "World"), snapshotTree(s.saves / "World"));
        } else {
            QCOMPARE(disk(s.server), before);
            QVERIFY(workingFoldersIn(s.server).empty());
        }
        QVERIFY(s.dialogs.reportCalls <= s.dialogs.cancelAfterCalls); // nothing asked after Cancel
        // The holder is named: by its process here, or as another computer's.
        const std::string details = s.dialogs.shown.front().details;
        QVERIFY(!c.copyLockHeld ||
                details.find("process " + std::to_string(::getpid())) != std::string::npos);
        QVERIFY(c.layout != Layout{foreignLock} ||
                details.find("99999 on far-away") != std::string::npos);
    }
};

QTEST_MAIN(WorldCopyTest)
#include "WorldCopyTest.moc"
