#include "worlds/WorldCopy.h"

#include "platform/Platform.h"
#include "platform/QtPreferences.h"
#include "support/FailingFileSystem.h"
#include "support/TestSupport.h"
#include "support/TreeSnapshot.h"
#include "worlds/ServerProperties.h"
#include "worlds/StagedCopy.h"

#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <sys/mount.h>
#include <unistd.h>

using namespace Plovermantle;
namespace fs = std::filesystem;
using Snapshot = std::map<std::string, std::string>;

namespace {

const QString comeOn =
    "W|Come on!|You must supply the what and where if you expect me to work for you.|";
const QString worldExists = "W|World exists!|Do you want to replace?|Replace,Cancel";
const QString unableToReplace = "W|Error!|Unable to replace world.|";
const QString unableToCopy = "W|Error!|Unable to copy world.|";
const QString worldCopied = "I|World copied.|Be sure to restart the server.|";

constexpr int cancelAnswer = alertFirstButtonReturn + 1;

// Each alert as "style|message|informative|buttons", so a failed comparison shows the texts.
QStringList describe(const std::vector<Alert>& alerts) {
    QStringList described;
    for (const Alert& alert : alerts) {
        QStringList buttons;
        for (const std::string& button : alert.buttons) {
            buttons << QString::fromStdString(button);
        }
        described << QStringLiteral("%1|%2|%3|%4")
                         .arg(alert.style == AlertStyle::Warning ? "W" : "I",
                              QString::fromStdString(alert.messageText),
                              QString::fromStdString(alert.informativeText), buttons.join(','));
    }
    return described;
}

const std::vector<std::string> sampleWorld{"f:level.dat=level v2",
                                           "f:region/r.0.0.mca=region zero",
                                           "f:region/r.0.1.mca=region one:0640",
                                           "d:DIM-1/region",
                                           "f:data/raids.dat=raids",
                                           "l:data/latest>../level.dat",
                                           "f:.hidden=hidden file",
                                           "d:empty"};

// What a folder holds, without the folder's own entry: trying a copy in a folder touches its time.
Snapshot contentsOf(const fs::path& folder) {
    Snapshot items = Testing::snapshotTree(folder);
    items.erase(std::string());
    return items;
}

// The item at `path` and all it holds, or a mark that nothing is there.
Snapshot itemAt(const fs::path& path) {
    if (!fs::exists(fs::symlink_status(path))) {
        return {{std::string(), "nothing"}};
    }
    return Testing::snapshotTree(path);
}

// A saves folder with one world in it, a server folder, and the app's side of a copy.
struct Deployment {
    Deployment() {
        Testing::buildTree(saves / "World", sampleWorld);
        fs::create_directories(server);
        Testing::writeFile(server / "server.properties", "level-name=old\n");
    }
    ~Deployment() { Testing::makeRemovable(root); }
    Deployment(const Deployment&) = delete;
    Deployment& operator=(const Deployment&) = delete;

    WorldCopyInputs inputs(const std::string& world = "World") const {
        return {server.string(), world, saves.string(), server.string()};
    }

    void copy(const WorldCopyInputs& given, const CopyProgressCallback& progress = {}) {
        copyWorld(
            platform, given,
            [&](const std::string& serverFolder) {
                pointedAt.push_back(serverFolder);
                rewriteServerProps(platform, serverFolder, *given.selectedWorld);
            },
            progress);
    }
    void copy() { copy(inputs()); }

    QStringList alerts() const { return describe(dialogs.alerts); }

    QTemporaryDir dir;
    fs::path root = dir.path().toStdString();
    fs::path saves = root / "saves";
    fs::path server = root / "server";
    Testing::FailingFileSystem files;
    QtPreferences prefs{dir.filePath(QStringLiteral("prefs.ini"))};
    Testing::RecordingDialogs dialogs;
    Platform platform{files, prefs, dialogs};
    std::vector<std::string> pointedAt;
};

// What stands at the destination before a copy: entries for buildTree, under "World".
struct Existing {
    const char* name;
    std::vector<std::string> layout; // built inside the server folder
};

const std::vector<Existing> existingItems{
    {"old world folder",
     {"f:World/level.dat=old level", "f:World/region/r.0.0.mca=old region", "d:World/old-only"}},
    {"plain file", {"f:World=just a file"}},
    {"link to a folder elsewhere", {"f:elsewhere/keep.dat=keep", "l:World>elsewhere"}},
    {"nothing", {}},
};

} // namespace

class WorldCopyTest : public QObject {
    Q_OBJECT

private slots:
    void missingInputIsRefused_data() {
        QTest::addColumn<QString>("fieldText");
        QTest::addColumn<bool>("selected");
        QTest::addColumn<QString>("serverFolder");
        QTest::newRow("empty field, no world") << "" << false << "server";
        QTest::newRow("empty field, world selected") << "" << true << "server";
        QTest::newRow("blank field, no world") << "   " << false << "server";
        QTest::newRow("field set, no world") << "/srv" << false << "server";
        QTest::newRow("no server folder in use") << "/srv" << true << "";
    }

    void missingInputIsRefused() {
        QFETCH(QString, fieldText);
        QFETCH(bool, selected);
        QFETCH(QString, serverFolder);
        Deployment d;
        const Snapshot before = Testing::snapshotTree(d.root);
        WorldCopyInputs given = d.inputs();
        given.serverPathText = fieldText.toStdString();
        if (!selected) {
            given.selectedWorld.reset();
        }
        if (serverFolder.isEmpty()) {
            given.serverFolder = std::string();
        }
        d.copy(given);

        QCOMPARE(d.alerts(), QStringList{comeOn});
        QCOMPARE(Testing::snapshotTree(d.root), before);
        QVERIFY(d.pointedAt.empty());
        QCOMPARE(d.files.operations, 0);
    }

    void namesThatAreNotOneFolderAreRefused_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("dot") << QByteArray(".");
        QTest::newRow("dot dot") << QByteArray("..");
        QTest::newRow("climbs out") << QByteArray("../server");
        QTest::newRow("NUL") << QByteArray("World\0x", 7);
    }

    void namesThatAreNotOneFolderAreRefused() {
        QFETCH(QByteArray, name);
        Deployment d;
        const Snapshot before = Testing::snapshotTree(d.root);
        d.copy(d.inputs(name.toStdString()));
        QCOMPARE(d.alerts(),
                 QStringList{"W|Error!|The world's name cannot be used as a folder name.|"});
        QCOMPARE(Testing::snapshotTree(d.root), before);
        QCOMPARE(d.files.operations, 0);
    }

    void cancelLeavesEverythingAlone_data() {
        QTest::addColumn<int>("existing");
        QTest::addColumn<int>("answer");
        for (std::size_t i = 0; i + 1 < existingItems.size(); ++i) {
            QTest::addRow("%s", existingItems[i].name) << static_cast<int>(i) << cancelAnswer;
        }
        QTest::newRow("prompt closed") << 0 << alertClosedReturn;
    }

    void cancelLeavesEverythingAlone() {
        QFETCH(int, existing);
        QFETCH(int, answer);
        Deployment d;
        Testing::buildTree(d.server, existingItems[static_cast<std::size_t>(existing)].layout);
        const Snapshot before = Testing::snapshotTree(d.root);
        d.dialogs.alertAnswers = {answer};
        d.copy();
        QCOMPARE(d.alerts(), QStringList{worldExists});
        QCOMPARE(Testing::snapshotTree(d.root), before);
        QVERIFY(d.pointedAt.empty());
    }

    void aMissingWorldIsReported_data() {
        QTest::addColumn<bool>("destinationExists");
        QTest::newRow("nothing at the destination") << false;
        QTest::newRow("after the prompt") << true;
    }

    void aMissingWorldIsReported() {
        QFETCH(bool, destinationExists);
        Deployment d;
        if (destinationExists) {
            Testing::buildTree(d.server, existingItems[0].layout);
        }
        fs::remove_all(d.saves / "World");
        const Snapshot before = Testing::snapshotTree(d.root);
        d.copy();
        const QStringList expected =
            destinationExists ? QStringList{worldExists, unableToCopy} : QStringList{unableToCopy};
        QCOMPARE(d.alerts(), expected);
        QCOMPARE(Testing::snapshotTree(d.root), before);
        QVERIFY(d.pointedAt.empty());
    }

    void aMissingServerFolderIsNotCreated() {
        Deployment d;
        fs::remove_all(d.server);
        d.copy();
        QCOMPARE(d.alerts(), QStringList{unableToCopy});
        QVERIFY(!fs::exists(d.server));
        QVERIFY(d.pointedAt.empty());
    }

    void theFolderInUseWinsOverTheFieldText() {
        Deployment d;
        WorldCopyInputs given = d.inputs();
        given.serverPathText = (d.root / "elsewhere").string();
        d.copy(given);
        QCOMPARE(d.alerts(), QStringList{worldCopied});
        QVERIFY(fs::exists(d.server / "World/level.dat"));
        QVERIFY(!fs::exists(d.root / "elsewhere"));
    }

    void namesAreUsedExactly_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("spaces") << " My World ";
        QTest::newRow("non-ASCII") << "Größe 世界";
    }

    void namesAreUsedExactly() {
        QFETCH(QString, name);
        Deployment d;
        const std::string world = name.toStdString();
        Testing::buildTree(d.saves / world, {"f:level.dat=" + world});
        d.copy(d.inputs(world));
        QCOMPARE(d.alerts(), QStringList{worldCopied});
        QCOMPARE(Testing::readFile(d.server / world / "level.dat"), world);
    }

    void aReadOnlyWorldArrivesWithItsOwnBits() {
        Deployment d;
        Testing::buildTree(d.saves, {"d:World/region:0555", "d:World:0555"});
        const Snapshot world = Testing::snapshotTree(d.saves / "World");
        d.copy();
        QCOMPARE(d.alerts(), QStringList{worldCopied});
        QCOMPARE(Testing::snapshotTree(d.server / "World"), world);
    }

    void successAlertFollowsTheRewritesOwn() {
        Deployment d;
        fs::remove(d.server / "server.properties");
        d.copy();
        const QStringList alerts = d.alerts();
        QCOMPARE(alerts.size(), 2);
        QVERIFY(alerts.first().startsWith("W|Error!|Unable to read server.properties"));
        QCOMPARE(alerts.last(), worldCopied);
        QCOMPARE(d.pointedAt.size(), std::size_t{1});
    }

    void aWorldIsNeverCopiedOntoOrIntoItself_data() {
        QTest::addColumn<QString>("serverFolder");
        QTest::addColumn<QString>("savesFolder");
        QTest::addColumn<QString>("informative");
        const QString same = "The server folder is the saves folder, so the world would be copied "
                             "onto itself. Choose another server folder.";
        const QString inside = "The server folder is inside the world, so the world would be "
                               "copied into itself. Choose another server folder.";
        const QString around = "The world is inside the folder it would replace. Choose another "
                               "server folder.";
        QTest::newRow("server folder is the saves folder") << "saves"
                                                           << "saves" << same;
        QTest::newRow("same folder, spelt differently") << "saves/../saves/"
                                                        << "saves" << same;
        QTest::newRow("same folder through a link") << "link-to-saves"
                                                    << "saves" << same;
        QTest::newRow("server folder is the world") << "saves/World"
                                                    << "saves" << inside;
        QTest::newRow("server folder deep in the world") << "saves/World/region"
                                                         << "saves" << inside;
        QTest::newRow("inside the world through a link") << "link-to-world"
                                                         << "saves" << inside;
        QTest::newRow("the world lies inside what it replaces") << "outer"
                                                                << "outer/World/saves" << around;
    }

    void aWorldIsNeverCopiedOntoOrIntoItself() {
        QFETCH(QString, serverFolder);
        QFETCH(QString, savesFolder);
        QFETCH(QString, informative);
        // Then again with each look at the disk failing in turn: what cannot be ruled out is
        // refused too.
        int total = 0;
        for (int n = 0; n == 0 || n <= total; ++n) {
            Deployment d;
            Testing::buildTree(d.root, {"l:link-to-saves>saves", "l:link-to-world>saves/World",
                                        "f:outer/World/saves/World/level.dat=inner world"});
            const Snapshot before = Testing::snapshotTree(d.root);
            WorldCopyInputs given = d.inputs();
            given.serverFolder = (d.root / serverFolder.toStdString()).string();
            given.savesFolder = (d.root / savesFolder.toStdString()).string();
            d.files.failAt = {n};
            d.copy(given);
            const QStringList expected{n == 0 ? "W|Error!|" + informative + "|" : unableToCopy};
            if (n == 0) {
                total = d.files.operations;
                QCOMPARE(d.alerts(), expected);
            } else {
                QVERIFY2(d.alerts() == expected ||
                             d.alerts() == QStringList{"W|Error!|" + informative + "|"},
                         d.files.calls[static_cast<std::size_t>(n - 1)].c_str());
            }
            QCOMPARE(Testing::snapshotTree(d.root), before);
            QVERIFY(d.pointedAt.empty());
        }
        QVERIFY(total >= 2);
    }

    void aServerFolderBesideTheWorldIsFine() {
        Deployment d;
        WorldCopyInputs given = d.inputs();
        // A sibling whose name starts with the world's must not count as inside it.
        given.serverFolder = (d.saves / "World2").string();
        Testing::writeFile(d.saves / "World2/server.properties", "level-name=x\n");
        d.copy(given);
        QCOMPARE(d.alerts(), QStringList{worldCopied});
        QVERIFY(fs::exists(d.saves / "World2/World/level.dat"));
    }

    void stoppingTheCopyLeavesTheServerFolderAsItWas_data() {
        QTest::addColumn<int>("existing");
        QTest::addColumn<bool>("whileFlushing");
        QTest::newRow("replacing") << 0 << false;
        QTest::newRow("new") << 3 << false;
        // Cancel pressed after the last file, while the copy goes to the disk.
        QTest::newRow("replacing, while flushing") << 0 << true;
    }

    void stoppingTheCopyLeavesTheServerFolderAsItWas() {
        QFETCH(int, existing);
        QFETCH(bool, whileFlushing);
        std::size_t calls = 3; // mid-copy
        if (whileFlushing) {
            Deployment whole;
            whole.copy();
            calls = whole.dialogs.progressRuns.at(0).calls; // the last is the question
        }
        Deployment d;
        Testing::buildTree(d.server, existingItems[static_cast<std::size_t>(existing)].layout);
        const Snapshot before = contentsOf(d.server);
        const Snapshot world = Testing::snapshotTree(d.saves);
        d.dialogs.cancelAfterCalls = calls;
        d.copy();
        QCOMPARE(d.dialogs.progressRuns.size(), std::size_t{1});
        QCOMPARE(d.dialogs.progressRuns[0].calls, calls);
        const bool flushed =
            std::any_of(d.files.calls.begin(), d.files.calls.end(),
                        [](const std::string& call) { return call.starts_with("flushToDisk"); });
        QCOMPARE(flushed, whileFlushing);
        const QStringList expected = existing == 3 ? QStringList{} : QStringList{worldExists};
        QCOMPARE(d.alerts(), expected);
        QCOMPARE(contentsOf(d.server), before);
        QCOMPARE(Testing::snapshotTree(d.saves), world);
        QVERIFY(d.pointedAt.empty());
    }

    void progressReachesTheTotalOnce_data() {
        QTest::addColumn<std::vector<std::string>>("layout");
        QTest::addColumn<qulonglong>("files");
        QTest::addColumn<qulonglong>("bytes");
        QTest::newRow("world") << sampleWorld << 6ULL << 45ULL;
        QTest::newRow("only folders")
            << std::vector<std::string>{"d:region", "d:data/x"} << 0ULL << 0ULL;
        QTest::newRow("empty files") << std::vector<std::string>{"f:a=", "f:b/c="} << 2ULL << 0ULL;
    }

    void progressReachesTheTotalOnce() {
        QFETCH(std::vector<std::string>, layout);
        QFETCH(qulonglong, files);
        QFETCH(qulonglong, bytes);
        Deployment d;
        Testing::buildTree(d.saves / "Other", layout);
        d.copy(d.inputs("Other"));
        QCOMPARE(d.alerts(), QStringList{worldCopied});
        QCOMPARE(d.dialogs.progressRuns.size(), std::size_t{1});
        QCOMPARE(d.dialogs.progressRuns[0].label, std::string("Copying “Other”"));
        const std::vector<WorkProgress>& reports = d.dialogs.progressRuns[0].reports;
        QVERIFY(!reports.empty());
        const WorkProgress total{files, files, bytes, bytes};
        QCOMPARE(std::count(reports.begin(), reports.end(), total), 1);
        QVERIFY(reports.back() == total);
        for (std::size_t i = 1; i < reports.size(); ++i) {
            QVERIFY(reports[i].filesDone >= reports[i - 1].filesDone);
            QVERIFY(reports[i].bytesDone >= reports[i - 1].bytesDone);
        }
    }

    void leftoversOfACrashAreCleanedUp() {
        Deployment d;
        // A copy cut short after setting "Old" aside, one after "Kept" had been replaced, and a
        // half-made staging folder; plus the user's own look-alikes, which stay.
        Testing::buildTree(
            d.server,
            {"f:.plovermantle-aside-Ab12Cd/Old/level.dat=old world",
             "f:.plovermantle-aside-Zz99Yy/Kept/level.dat=previous", "f:Kept/level.dat=current",
             "f:.plovermantle-staging-Qq11Ww/World/level.dat=half", "d:.plovermantle-aside-x",
             "f:.plovermantle-staging-notes=mine", "f:.plovermantle-aside-Two222/A=a",
             "f:.plovermantle-aside-Two222/B=b"});
        d.copy();
        QCOMPARE(d.alerts(), QStringList{worldCopied});
        QCOMPARE(Testing::readFile(d.server / "Old/level.dat"), std::string("old world"));
        QCOMPARE(Testing::readFile(d.server / "Kept/level.dat"), std::string("current"));
        QCOMPARE(Testing::workingFoldersIn(d.server),
                 (std::vector<std::string>{".plovermantle-aside-Two222", ".plovermantle-aside-x",
                                           ".plovermantle-staging-notes"}));
    }

    // A copy, and then the same copy with each of its file operations failed in turn: the
    // destination then holds the old item exactly or the whole new world, never anything between.
    void copiesOrLosesNothing_data() {
        QTest::addColumn<int>("existing");
        QTest::addColumn<bool>("exchangeUnsupported");
        for (std::size_t i = 0; i < existingItems.size(); ++i) {
            for (bool unsupported : {false, true}) {
                // Setting aside works the same whatever the item: once is enough.
                if (unsupported && i != 0) {
                    continue;
                }
                QTest::addRow("%s%s", existingItems[i].name, unsupported ? ", no exchange" : "")
                    << static_cast<int>(i) << unsupported;
            }
        }
    }

    void copiesOrLosesNothing() {
        QFETCH(int, existing);
        QFETCH(bool, exchangeUnsupported);
        const Existing& item = existingItems[static_cast<std::size_t>(existing)];
        const auto prepare = [&](Deployment& d) {
            d.files.exchangeUnsupported = exchangeUnsupported;
            Testing::buildTree(d.server, item.layout);
            // A leftover, so that putting things right is on the path too.
            Testing::buildTree(d.server, {"f:.plovermantle-staging-Lf0000/World/x=half"});
        };
        const std::string leftover = ".plovermantle-staging-Lf0000";
        int total = 0;
        int recoveryOperations = 0;
        {
            Deployment d;
            prepare(d);
            const Snapshot world = Testing::snapshotTree(d.saves / "World");
            d.copy();
            const QStringList expected = item.layout.empty()
                                             ? QStringList{worldCopied}
                                             : QStringList{worldExists, worldCopied};
            QCOMPARE(d.alerts(), expected);
            QCOMPARE(Testing::snapshotTree(d.server / "World"), world);
            QCOMPARE(Testing::snapshotTree(d.saves / "World"), world);
            QCOMPARE(d.pointedAt, std::vector<std::string>{d.server.string()});
            QCOMPARE(Testing::readFile(d.server / "server.properties"),
                     std::string("level-name=World\n"));
            QCOMPARE(Testing::readFile(d.server / "server.properties.backup"),
                     std::string("level-name=old\n"));
            QCOMPARE(Testing::workingFoldersIn(d.server), std::vector<std::string>{});
            total = d.files.operations;
            for (int n = 1; n <= total; ++n) {
                if (d.files.calls[static_cast<std::size_t>(n - 1)].ends_with(leftover)) {
                    recoveryOperations = n;
                }
            }
        }
        QVERIFY(total > 20);
        QVERIFY(recoveryOperations > 0);

        for (int n = 1; n <= total; ++n) {
            Deployment d;
            prepare(d);
            const Snapshot world = Testing::snapshotTree(d.saves / "World");
            const Snapshot props = Testing::snapshotTree(d.server / "server.properties");
            const Snapshot old = itemAt(d.server / "World");
            d.files.failAt = {n};
            d.copy();

            const std::string failed = d.files.calls[static_cast<std::size_t>(n - 1)];
            const QByteArray where =
                QByteArray::fromStdString("operation " + std::to_string(n) + ": " + failed);
            QVERIFY2(d.files.failed.size() == 1, where);
            const bool copied = !d.alerts().isEmpty() && d.alerts().last() == worldCopied;
            const bool rewriteFailed = d.files.failed.front() == "readTextFile" ||
                                       d.files.failed.front() == "writeFileAtomically";
            if (copied) {
                QVERIFY2(itemAt(d.server / "World") == world, where);
                QVERIFY2(d.pointedAt.size() == 1, where);
                QVERIFY2(rewriteFailed || Testing::readFile(d.server / "server.properties") ==
                                              "level-name=World\n",
                         where);
            } else {
                QVERIFY2(!rewriteFailed && d.pointedAt.empty(), where);
                QVERIFY2(Testing::snapshotTree(d.server / "server.properties") == props, where);
                QVERIFY2(!fs::exists(d.server / "server.properties.backup"), where);
                QVERIFY2(itemAt(d.server / "World") == old, where);
                const QStringList alerts = d.alerts();
                QVERIFY2(!alerts.isEmpty() &&
                             (alerts.last() == unableToCopy || alerts.last() == unableToReplace),
                         where);
            }
            QVERIFY2(Testing::snapshotTree(d.saves / "World") == world, where);
            if (existing == 2) {
                QVERIFY2(Testing::readFile(d.server / "elsewhere/keep.dat") == "keep", where);
            }
            // Only a failed removal, or a failure while looking for earlier leftovers, leaves
            // working folders behind; the next copy clears them and keeps what is in place.
            const auto remaining = Testing::workingFoldersIn(d.server);
            const bool mayRemain =
                d.files.failed.front() == "removeTree" || n <= recoveryOperations;
            QVERIFY2(remaining.empty() || mayRemain, where);
            if (!remaining.empty()) {
                const Snapshot inPlace = itemAt(d.server / "World");
                PosixFileSystem files;
                recoverLeftovers(files, d.server.string());
                QVERIFY2(Testing::workingFoldersIn(d.server).empty(), where);
                QVERIFY2(itemAt(d.server / "World") == inPlace, where);
            }
        }
    }

    void aSetAsideWorldThatCannotGoBackIsRestoredLater() {
        Deployment d;
        d.files.exchangeUnsupported = true;
        Testing::buildTree(d.server, existingItems[0].layout);
        const Snapshot old = Testing::snapshotTree(d.server / "World");
        // Moving the copy in fails, and so does putting the old world back.
        int total = 0;
        {
            Deployment probe;
            probe.files.exchangeUnsupported = true;
            Testing::buildTree(probe.server, existingItems[0].layout);
            probe.copy();
            total = probe.files.operations;
            const auto& calls = probe.files.calls;
            for (int n = 1; n <= total; ++n) {
                const std::string& call = calls[static_cast<std::size_t>(n - 1)];
                if (call.starts_with("renameItem") && call.find("staging") != std::string::npos) {
                    d.files.failAt = {n, n + 1};
                }
            }
        }
        QCOMPARE(d.files.failAt.size(), std::size_t{2});
        d.copy();
        QCOMPARE(d.alerts(), (QStringList{worldExists, unableToReplace}));
        QCOMPARE(d.files.failed, (std::vector<std::string>{"renameItem", "renameItem"}));
        QVERIFY(!fs::exists(d.server / "World"));

        Deployment later;
        fs::remove_all(later.server);
        fs::rename(d.server, later.server);
        later.dialogs.alertAnswers = {cancelAnswer};
        later.copy();
        QCOMPARE(later.alerts(), QStringList{worldExists});
        QCOMPARE(Testing::snapshotTree(later.server / "World"), old);
        QCOMPARE(Testing::workingFoldersIn(later.server), std::vector<std::string>{});
    }

    void aFullDiskLosesNothing_data() {
        QTest::addColumn<bool>("replacing");
        QTest::newRow("replacing") << true;
        QTest::newRow("new") << false;
    }

    void aFullDiskLosesNothing() {
        QFETCH(bool, replacing);
        if (::geteuid() != 0) {
            QSKIP("mounting a small tmpfs to fill needs root");
        }
        Deployment d;
        const fs::path small = d.root / "small";
        fs::create_directories(small);
        if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0) {
            QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs here: %1")
                                 .arg(QString::fromLocal8Bit(std::strerror(errno)))));
        }
        const struct Unmount {
            fs::path path;
            ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
        } unmount{small};

        const fs::path server = small / "server";
        Testing::buildTree(server, {"f:server.properties=level-name=old\n"});
        if (replacing) {
            Testing::buildTree(server, {"f:World/level.dat=old level",
                                        "f:World/region/r=" + std::string(300000, 'o')});
        }
        // Bigger than the file system, in several files so that some fit.
        for (int i = 0; i < 6; ++i) {
            Testing::writeFile(d.saves / "World/region" / ("r." + std::to_string(i) + ".mca"),
                               std::string(300000, static_cast<char>('a' + i)));
        }
        const Snapshot before = contentsOf(server);
        WorldCopyInputs given = d.inputs();
        given.serverFolder = server.string();
        d.copy(given);

        const QStringList expected =
            replacing ? QStringList{worldExists, unableToCopy} : QStringList{unableToCopy};
        QCOMPARE(d.alerts(), expected);
        QCOMPARE(contentsOf(server), before);
        QVERIFY(d.pointedAt.empty());
    }
};

QTEST_MAIN(WorldCopyTest)
#include "WorldCopyTest.moc"
