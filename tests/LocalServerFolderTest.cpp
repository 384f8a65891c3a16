// The server folder of this computer as other accounts meet it: one exchanging entries while the
// app cleans up, the server's account writing the world it was given, the game saving into a world
// while it is copied, and copies from two places racing for the lock.
#include "platform/LocalServerFolder.h"

#include "platform/LocalWorldSource.h"
#include "support/FailingServerFolder.h"
#include "support/TestSupport.h"
#include "worlds/StagedCopy.h"

#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
namespace fs = std::filesystem;

namespace {

// Copies the world folder `world` into the server folder as "World"; `meddle` sees each of the
// folder's calls, the sink's among them, before it is done, and fails those it answers true to.
PlaceResult copyWorld(const fs::path& world, LocalServerFolder& folder,
                      const OwnershipPlan& plan = {},
                      const std::function<bool(const FolderCall&)>& meddle = {}) {
    FailingServerFolder meddled;
    meddled.real = &folder;
    meddled.failIf = meddle;
    const auto source = LocalWorldSource::open(world.string());
    return source ? placeCopy(meddled, *source, "World", false, plan).result
                  : PlaceResult::CopyFailed;
}

} // namespace

Q_DECLARE_METATYPE(OwnershipPlan)
Q_DECLARE_METATYPE(PlaceResult)
Q_DECLARE_METATYPE(LockOutcome)

class LocalServerFolderTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    fs::path root;
    fs::path server;

    auto openServer() { return LocalServerFolder::open(server.string()); }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        root = dir->path().toStdString();
        server = root / "server";
        fs::create_directories(server);
        // Open to the other accounts the tests act as.
        QCOMPARE(::chmod(root.c_str(), 0755), 0);
    }

    // A file from a source with no descriptor (an archive) arrives whole through its reader, in
    // pieces of any size; told to stop, the sink stops with no failure to tell.
    void writesFromAReader() {
        std::string data(3 << 20, 'a');
        for (std::size_t i = 0; i < data.size(); i += 4099) {
            data[i] = static_cast<char>('b' + i % 7);
        }
        auto folder = openServer();
        const auto sink = folder->receiveTree("World", {});
        QVERIFY(sink->makeFolder({"", ItemKind::Folder, 0, 0755, {}, {}}));
        for (const bool stop : {true, false}) {
            std::string_view left = data;
            FileContent content{-1, [&](char* buffer, std::size_t capacity) {
                                    // Short reads, as an archive's decoder gives.
                                    const std::size_t n =
                                        left.copy(buffer, std::min(capacity, std::size_t{700'000}));
                                    left.remove_prefix(n);
                                    return std::optional(n);
                                }};
            std::uint64_t told = 0;
            const TransferItem file{
                stop ? "s" : "f", ItemKind::RegularFile, data.size(), 0644, {}, {}};
            QCOMPARE(sink->writeFile(file, content,
                                     [&](std::uint64_t bytes) { return (told += bytes, !stop); }),
                     !stop);
            QVERIFY(!folder->takeFailure());
            QVERIFY(stop || (told == data.size() && sink->finish()));
        }
        QVERIFY(readFile(server / "World/f") == data);
    }

    // Cleaning up a leftover in a folder others can write: only the user's own items go, nothing
    // is followed, and an entry exchanged for a link to a private folder meanwhile never changes
    // that folder.
    void removesOnlyOwnItems_data() {
        QTest::addColumn<uid_t>("user");
        QTest::addColumn<Layout>("layout");
        QTest::addColumn<Layout>("foreign"); // handed to the server's account
        QTest::addColumn<Layout>("left");    // what is still there after
        const auto row = [](const char* name, uid_t user, Layout layout, Layout foreign,
                            Layout left) {
            QTest::newRow(name) << user << layout << foreign << left;
        };
        const Layout readOnly{"f:top/ro/f=x", "m:top/ro=0555", "d:top/none", "m:top/none=0"};
        row("own, with read-only and closed folders", desktopUser, readOnly, {}, {});
        row("another account's leftover", desktopUser, {"f:top/a=x", "m:top=0777"},
            {"top", "top/a"}, {"top", "top/a"});
        row("another account's file in ours", desktopUser, {"f:top/mine=x", "f:top/theirs=y"},
            {"top/theirs"}, {"top", "top/theirs"});
        row("root's, given to the server", 0, readOnly, {"top/ro", "top/ro/f"}, {});
    }

    void removesOnlyOwnItems() {
        QFETCH(uid_t, user);
        QFETCH(Layout, layout);
        QFETCH(Layout, foreign);
        QFETCH(Layout, left);
        if (::geteuid() != 0) {
            QSKIP("acting as two accounts needs root");
        }
        buildTree(server, layout);
        QCOMPARE(::lchown(server.c_str(), user, user), 0);
        for (const auto& item : fs::recursive_directory_iterator(server)) {
            QCOMPARE(::lchown(item.path().c_str(), user, user), 0);
        }
        for (const std::string& item : foreign) {
            QCOMPARE(::lchown((server / item).c_str(), serverUser, serverUser), 0);
        }
        const bool whole = left.empty();
        QVERIFY(runAs(user, {}, [&] { return openServer()->removeTree("top") == whole; }));
        Layout remaining;
        for (const char* item : {"top", "top/a", "top/mine", "top/theirs", "top/ro"}) {
            if (fs::symlink_status(server / item).type() != fs::file_type::not_found) {
                remaining.push_back(item);
            }
        }
        QCOMPARE(remaining, left);
    }

    void exchangedEntryNeverOpensAPrivateFolder() {
        if (::geteuid() != 0) {
            QSKIP("acting as two accounts needs root");
        }
        // The user's leftover holds a folder anyone may write; the server's account keeps
        // exchanging a folder of its own there with a link to the user's private folder.
        buildTree(root,
                  {"d:private", "m:private=0700", "d:server/top/open", "m:server/top/open=0777",
                   "f:server/top/open/x/ro/f=x", "m:server/top/open/x/ro=0555",
                   "m:server/top/open/x=0777", "l:server/top/open/y>../../../private"});
        for (const char* item : {"private", "server", "server/top", "server/top/open"}) {
            QCOMPARE(::chown((root / item).c_str(), desktopUser, desktopUser), 0);
        }
        for (const char* item : {"x", "x/ro", "x/ro/f", "y"}) {
            QCOMPARE(::lchown((server / "top/open" / item).c_str(), serverUser, serverUser), 0);
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        const std::string x = server / "top/open/x", y = server / "top/open/y";
        std::thread swapper([&] {
            runAs(serverUser, {}, [&] {
                while (std::chrono::steady_clock::now() < until) {
                    // The link again, under whichever name the app removed it from.
                    ::symlink("../../../private", x.c_str());
                    ::symlink("../../../private", y.c_str());
                    ::renameat2(AT_FDCWD, x.c_str(), AT_FDCWD, y.c_str(), RENAME_EXCHANGE);
                }
                return true;
            });
        });
        const bool cleaned = runAs(desktopUser, {}, [&] {
            while (std::chrono::steady_clock::now() < until) {
                openServer()->removeTree("top");
            }
            return true;
        });
        swapper.join();
        QVERIFY(cleaned);
        QCOMPARE(modeOf(root / "private"), mode_t{0700});
        QVERIFY(fs::exists(server / "top/open/x/ro/f") || fs::exists(server / "top/open/y/ro/f"));
    }

    // The server running as its own account can open the world it was given and save into it:
    // as root the world is given to that account; a member of the folder's group gives it the
    // group and group write; a default ACL granting that account access is not masked away.
    void serverAccountWritesTheWorld_data() {
        QTest::addColumn<uid_t>("copier");
        QTest::addColumn<mode_t>("serverMode");
        QTest::addColumn<bool>("acl");
        QTest::addColumn<OwnershipPlan>("plan");
        QTest::newRow("root gives it away")
            << uid_t{0} << mode_t{0755} << false << OwnershipPlan{serverUser, sharedGroup, false};
        QTest::newRow("group member, set-group-ID folder")
            << desktopUser << mode_t{02775} << false
            << OwnershipPlan{std::nullopt, sharedGroup, true};
        QTest::newRow("default ACL") << uid_t{0} << mode_t{0755} << true << OwnershipPlan{};
    }

    void serverAccountWritesTheWorld() {
        QFETCH(uid_t, copier);
        QFETCH(mode_t, serverMode);
        QFETCH(bool, acl);
        QFETCH(OwnershipPlan, plan);
        if (::geteuid() != 0) {
            QSKIP("acting as two accounts needs root");
        }
        buildTree(root / "World", {"f:level.dat=l", "f:region/r.0.0.mca=r",
                                   "m:region/r.0.0.mca=0644", "m:region=0755"});
        QCOMPARE(::chown(server.c_str(), serverUser, sharedGroup), 0);
        QCOMPARE(::chmod(server.c_str(), serverMode), 0);
        const std::string setfacl = "setfacl -d -m u:" + std::to_string(serverUser) + ":rwx " +
                                    server.string() + " && chown root " + server.string();
        if (acl && std::system(setfacl.c_str()) != 0) {
            QSKIP("setfacl is missing");
        }
        QVERIFY(runAs(copier, {sharedGroup}, [&] {
            return copyWorld(root / "World", *openServer(), plan) == PlaceResult::Placed;
        }));
        const fs::path world = server / "World";
        QVERIFY(runAs(serverUser, {sharedGroup}, [&] {
            const int lock = ::open((world / "session.lock").c_str(), O_WRONLY | O_CREAT, 0644);
            const int region = ::open((world / "region/r.0.0.mca").c_str(), O_WRONLY | O_APPEND);
            return lock >= 0 && region >= 0 && ::write(region, "x", 1) == 1;
        }));
    }

    // A world the game saves into or opens while it is copied is refused, not copied torn; the
    // source itself tells, before the copy's own checks at its end.
    void refusesASourceThatChanges_data() {
        QTest::addColumn<int>("change"); // 0 none, 1 a file grows, 2 a file is rewritten, 3 locked
        QTest::addColumn<PlaceResult>("result");
        using enum PlaceResult;
        for (const auto& [name, change, result] : {std::tuple("untouched", 0, Placed),
                                                   {"a file grows", 1, SourceChanged},
                                                   {"a file is rewritten", 2, SourceChanged},
                                                   {"the game opens it", 3, SourceChanged}}) {
            QTest::newRow(name) << change << result;
        }
    }

    void refusesASourceThatChanges() {
        QFETCH(int, change);
        QFETCH(PlaceResult, result);
        buildTree(root / "World", {"f:level.dat=l", "f:session.lock=", "f:region/r.0.0.mca=r"});
        const fs::path region = root / "World/region/r.0.0.mca";
        GameLock game;
        const auto meddle = [&](const FolderCall& call) {
            if (call.operation == "flush") {
                game.release(); // gone before the copy looks again
            } else if (call.path == "region/r.0.0.mca") {
                // Grown with buildTree's time kept, or its time changed with its size kept.
                const timespec kept{1'000'000'000, 123'456'789};
                const timespec times[2] = {{0, UTIME_OMIT},
                                           change == 1 ? kept : timespec{0, UTIME_NOW}};
                if (change == 1) {
                    writeFile(region, "region grown");
                }
                if (change == 1 || change == 2) {
                    ::utimensat(AT_FDCWD, region.c_str(), times, 0);
                }
                if (change == 3) {
                    game.take(root / "World/session.lock");
                }
            }
            return false;
        };
        QCOMPARE(copyWorld(root / "World", *openServer(), {}, meddle), result);
    }

    // A pipe in place of a world's session.lock is no lock, and no wait. (A lock held, free, none,
    // and a link to a held one: the lock rows of WorldCopyTest.)
    void aPipeIsNoSessionLock() {
        buildTree(server, {"p:W/session.lock"});
        QCOMPARE(openServer()->isLockHeld("W/session.lock"), std::optional(false));
    }

    // A file whose folder is missing is not written.
    void writesNothingWithoutItsFolder() {
        QVERIFY(!openServer()->writeFileAtomically("gone/server.properties", "x", {}));
    }

    // The copy lock: taken when free or left by a process of this computer that is gone; refused,
    // with who holds it, when held here or unreadable; a link in its place is not followed.
    // Breaking it removes only a lock no one holds. (Another computer's: WorldCopyTest.)
    void copyLock_data() {
        QTest::addColumn<std::string>("existing"); // "" none, "live" held, else the file's text
        QTest::addColumn<LockOutcome>("outcome");
        QTest::addColumn<std::string>("holderHost");
        QTest::addColumn<bool>("broken");
        const auto row = [](const char* name, std::string existing, LockOutcome outcome,
                            std::string host, bool broken) {
            QTest::newRow(name) << existing << outcome << host << broken;
        };
        const std::string here = hostName();
        const std::string since = "\nsince=2026-01-01T00:00:00Z\n";
        using enum LockOutcome;
        row("free", "", Taken, "", true);
        row("held here", "live", HeldElsewhere, here, false);
        row("left here", "host=" + here + "\npid=1" + since, Taken, "", true);
        row("unreadable", "\x01\x02", HeldElsewhere, "", true);
        row("a link", "link", Failed, "", false);
    }

    void copyLock() {
        QFETCH(std::string, existing);
        QFETCH(LockOutcome, outcome);
        QFETCH(std::string, holderHost);
        QFETCH(bool, broken);
        const fs::path file = server / ".plovermantle.lock";
        auto folder = openServer();
        CopyLockAttempt live;
        if (existing == "live") {
            live = openServer()->lockExclusively(".plovermantle.lock");
            QCOMPARE(live.outcome, LockOutcome::Taken);
        } else if (existing == "link") {
            buildTree(root, {"f:target=t", "l:server/.plovermantle.lock>../target"});
        } else if (!existing.empty()) {
            writeFile(file, existing);
        }
        auto attempt = folder->lockExclusively(".plovermantle.lock");
        QCOMPARE(attempt.outcome, outcome);
        QCOMPARE(attempt.holder.host, holderHost);
        QCOMPARE(attempt.holder.readable, !holderHost.empty());
        QVERIFY(existing != "link" || (fs::is_symlink(file) && readFile(root / "target") == "t"));
        if (outcome == LockOutcome::Taken) {
            QVERIFY(readFile(file).starts_with(
                "host=" + hostName() + "\npid=" + std::to_string(::getpid()) + "\nsince=20"));
            attempt.lock.reset();
            QVERIFY(!fs::exists(file));
        } else if (outcome == LockOutcome::HeldElsewhere) {
            QCOMPARE(folder->breakLock(".plovermantle.lock"), broken);
            QCOMPARE(fs::exists(file), !broken);
        }
    }
};

QTEST_GUILESS_MAIN(LocalServerFolderTest)
#include "LocalServerFolderTest.moc"
