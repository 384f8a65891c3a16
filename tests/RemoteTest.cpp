// A server folder on another computer: destinations as users write them, the host key and login
// questions, and every primitive of the folder against a real sshd, with a shell and SFTP only.
#include "platform/PosixFileSystem.h"
#include "platform/QtPreferences.h"
#include "platform/ssh/RemoteServerFolder.h"
#include "support/SshdFixture.h"
#include "support/TestSupport.h"
#include "worlds/Messages.h"
#include "worlds/WorldCopy.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
namespace fs = std::filesystem;

namespace {

// Contents handed to a sink from memory, in pieces, calling `each` after every piece.
FileContent contentOf(std::shared_ptr<std::string> data, std::function<void()> each = {}) {
    auto offset = std::make_shared<std::size_t>(0);
    return {.read = [=](char* buffer, std::size_t capacity) -> std::optional<std::size_t> {
        const std::size_t size = data->copy(buffer, capacity, *offset);
        *offset += size;
        if (each) {
            each();
        }
        return size;
    }};
}

// Why the folder's last operation failed, for a failing check's message.
std::string why(ServerFolder& folder) {
    const std::optional<FileFailure> failure = folder.takeFailure();
    return failure ? describe(*failure) : std::string("no failure noted");
}

// A default key file; one with a passphrase; one only in the agent; one named by a Host alias
// of the home's ~/.ssh/config, reached by that alias.
enum class Key { Plain, Passphrase, AgentOnly, ConfigAlias };
enum class Known { Nothing, Right, Changed };

struct Login {
    Key key = Key::Plain;
    Known known = Known::Right;
    bool trust = true;
    std::optional<std::string> passphrase = {};
    std::vector<std::string> asked = {}; // "trust" and "passphrase" stand for the full questions
    std::string failure = {};            // found in the failure's description; none, it connects
};

struct Job {
    SshdFixture::Mode mode = SshdFixture::Mode::Shell;
    std::string world = "World";
    bool old = true; // a world of that name, and its Nether, in the server folder already
    bool running = false;
    std::size_t cancelAt = SIZE_MAX;
    CopyOutcome outcome = CopyOutcome::Deployed;
};

} // namespace

Q_DECLARE_METATYPE(ParsedDestination)
Q_DECLARE_METATYPE(Login)
Q_DECLARE_METATYPE(Job)
Q_DECLARE_METATYPE(SshdFixture::Mode)

class RemoteTest : public QObject {
    Q_OBJECT

    QTemporaryDir home_;
    std::unique_ptr<SshdFixture> shell_;
    std::unique_ptr<SshdFixture> sftpOnly_;
    ScriptedPrompts prompts_;

    SshdFixture& fixture(SshdFixture::Mode mode) {
        return mode == SshdFixture::Mode::Shell ? *shell_ : *sftpOnly_;
    }

    std::unique_ptr<RemoteServerFolder> open(SshdFixture::Mode mode, const std::string& path) {
        FileFailure failure;
        auto folder = RemoteServerFolder::open({"", "127.0.0.1", fixture(mode).port(), path},
                                               prompts_, {home_.path().toStdString()}, failure);
        if (!folder) {
            qWarning("%s\n%s", describe(failure).c_str(), fixture(mode).log().c_str());
        }
        return folder;
    }

    QString knownHostsLine(const SshdFixture& sshd) {
        return QString("[127.0.0.1]:%1 %2\n").arg(sshd.port()).arg(sshd.hostKeyLine().c_str());
    }

private slots:
    void initTestCase() {
        // Nothing of the real account's ~/.ssh is read or written, nor its agent asked.
        qputenv("HOME", home_.path().toUtf8());
        qunsetenv("SSH_AUTH_SOCK");
        QVERIFY(QDir().mkpath(home_.path() + "/.ssh"));
        QVERIFY(makeKey((home_.path() + "/.ssh/id_ed25519").toStdString()));
        shell_ = std::make_unique<SshdFixture>(SshdFixture::Mode::Shell);
        sftpOnly_ = std::make_unique<SshdFixture>(SshdFixture::Mode::SftpOnly);
        for (SshdFixture* sshd : {shell_.get(), sftpOnly_.get()}) {
            const std::string started = sshd->start();
            QVERIFY2(started.empty(), started.c_str());
            sshd->authorize((home_.path() + "/.ssh/id_ed25519.pub").toStdString());
        }
        writeFile((home_.path() + "/.ssh/known_hosts").toStdString(),
                  (knownHostsLine(*shell_) + knownHostsLine(*sftpOnly_)).toStdString());
    }

    void destinations_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<ParsedDestination>("parsed");
        using K = DestinationKind;
        const auto remote = [](std::string user, std::string host, std::optional<int> port,
                               std::string path) {
            return ParsedDestination{K::Remote, {user, host, port, path}};
        };
        QTest::newRow("local") << "/srv/mc" << ParsedDestination{K::Local, {}};
        QTest::newRow("local with a colon") << "./a:b" << ParsedDestination{K::Local, {}};
        QTest::newRow("scp") << "alex@mc.example:/srv/mc"
                             << remote("alex", "mc.example", {}, "/srv/mc");
        QTest::newRow("alias") << "box:/srv/mc" << remote("", "box", {}, "/srv/mc");
        QTest::newRow("ipv6") << "[::1]:/srv" << remote("", "::1", {}, "/srv");
        QTest::newRow("url") << "ssh://alex@mc.example:2222/srv/mc"
                             << remote("alex", "mc.example", 2222, "/srv/mc");
        QTest::newRow("url, no port")
            << "ssh://mc.example/srv" << remote("", "mc.example", {}, "/srv");
        QTest::newRow("relative") << "box:srv" << ParsedDestination{};
        QTest::newRow("option as host") << "-oProxyCommand=x:/srv" << ParsedDestination{};
        QTest::newRow("option as user") << "-l@box:/srv" << ParsedDestination{};
        QTest::newRow("port zero") << "ssh://box:0/srv" << ParsedDestination{};
        QTest::newRow("port junk") << "ssh://box:22x/srv" << ParsedDestination{};
        QTest::newRow("no path") << "ssh://box" << ParsedDestination{};
        QTest::newRow("newline") << "box:/srv\nx" << ParsedDestination{};
    }

    void destinations() {
        QFETCH(QString, text);
        QFETCH(ParsedDestination, parsed);
        const ParsedDestination got = parseDestination(text.toStdString());
        QCOMPARE(got.kind, parsed.kind);
        if (got.kind == DestinationKind::Remote) {
            QVERIFY(got.remote == parsed.remote);
            QCOMPARE(parseDestination(got.remote.text()).remote, got.remote);
        }
    }

    // Each in a home of its own: what is asked, whether it connects, and what known_hosts holds.
    void login_data() {
        QTest::addColumn<Login>("c");
        QTest::newRow("known host, plain key") << Login{};
        QTest::newRow("unknown host, trusted")
            << Login{.known = Known::Nothing, .asked = {"trust"}};
        QTest::newRow("unknown host, refused") << Login{
            .known = Known::Nothing, .trust = false, .asked = {"trust"}, .failure = "not trusted"};
        QTest::newRow("changed host key")
            << Login{.known = Known::Changed, .failure = "known_hosts line 2"};
        QTest::newRow("passphrase given")
            << Login{.key = Key::Passphrase, .passphrase = "sesame", .asked = {"passphrase"}};
        QTest::newRow("passphrase declined")
            << Login{.key = Key::Passphrase, .asked = {"passphrase"}, .failure = "log in"};
        QTest::newRow("agent") << Login{.key = Key::AgentOnly};
        QTest::newRow("Host alias") << Login{.key = Key::ConfigAlias};
    }

    void login() {
        QFETCH(Login, c);
        QTemporaryDir home;
        const QString ssh = home.path() + "/.ssh";
        QVERIFY(QDir().mkpath(ssh));
        const bool alias = c.key == Key::ConfigAlias;
        const std::string key = (ssh + (alias ? "/fixture_key" : "/id_ed25519")).toStdString();
        QVERIFY(makeKey(key, c.key == Key::Passphrase ? "sesame" : ""));
        shell_->authorize(key + ".pub");

        if (alias) {
            writeFile((ssh + "/config").toStdString(),
                      "Host fixture\n  HostName 127.0.0.1\n  Port " +
                          std::to_string(shell_->port()) + "\n  IdentityFile " + key + "\n");
        }
        QProcess agent;
        const QString socket = home.path() + "/agent.sock";
        if (c.key == Key::AgentOnly) {
            agent.start("ssh-agent", {"-D", "-a", socket});
            QVERIFY(agent.waitForStarted());
            QTRY_VERIFY(QFile::exists(socket));
            QVERIFY(runProgram("ssh-add", {key.c_str()}, {"SSH_AUTH_SOCK=" + socket}) == 0);
            QFile::remove(QString::fromStdString(key));
            QFile::remove(QString::fromStdString(key + ".pub"));
            qputenv("SSH_AUTH_SOCK", socket.toUtf8());
        }
        const std::string knownHosts = (ssh + "/known_hosts").toStdString();
        // Changed: the host's name on the second line, with another host's key.
        const std::string known = c.known == Known::Right ? knownHostsLine(*shell_).toStdString()
                                  : c.known == Known::Changed
                                      ? QString("elsewhere.example %1\n[127.0.0.1]:%2 %1\n")
                                            .arg(sftpOnly_->hostKeyLine().c_str())
                                            .arg(shell_->port())
                                            .toStdString()
                                      : "";
        if (!known.empty()) {
            writeFile(knownHosts, known);
        }

        ScriptedPrompts prompts;
        prompts.trust = c.trust;
        prompts.passphraseAnswer = c.passphrase;
        FileFailure failure;
        const SshDestination destination{"", alias ? "fixture" : "127.0.0.1",
                                         alias ? std::nullopt : std::optional(shell_->port()),
                                         home.path().toStdString()};
        const auto folder =
            RemoteServerFolder::open(destination, prompts, {home.path().toStdString()}, failure);
        qunsetenv("SSH_AUTH_SOCK");
        agent.kill();
        agent.waitForFinished();

        QVERIFY2(static_cast<bool>(folder) == c.failure.empty() &&
                     describe(failure).find(c.failure) != std::string::npos,
                 describe(failure).c_str());
        std::vector<std::string> expected;
        for (const std::string& question : c.asked) {
            expected.push_back(
                question == "trust"
                    ? QString("trust [127.0.0.1]:%1 ED25519 ").arg(shell_->port()).toStdString() +
                          shell_->hostKeyFingerprint()
                    : "passphrase " + key);
        }
        QCOMPARE(prompts.asked, expected);
        const std::string after = readFile(knownHosts);
        if (c.known == Known::Nothing) {
            // Trusted, the key is there in OpenSSH's form; refused, nothing is written.
            QCOMPARE(after.find(shell_->hostKeyLine()) != std::string::npos, c.trust);
        } else {
            QCOMPARE(after, known);
        }
    }

    void primitives_data() {
        QTest::addColumn<SshdFixture::Mode>("mode");
        QTest::newRow("shell") << SshdFixture::Mode::Shell;
        QTest::newRow("SFTP only") << SshdFixture::Mode::SftpOnly;
    }

    void primitives() {
        QFETCH(SshdFixture::Mode, mode);
        const bool shell = mode == SshdFixture::Mode::Shell;
        QTemporaryDir server;
        const fs::path root = server.path().toStdString();
        const auto folder = open(mode, root);
        QVERIFY(folder);
        QCOMPARE(folder->account().has_value(), shell);

        // A file sent in pieces, its set-id bit dropped; trees of every kind are the remote job's.
        const auto data = std::make_shared<std::string>(300 * 1024 + 7, 'b');
        const TransferItem top{"", ItemKind::Folder, 0, 0755, {}, ""};
        FileContent content = contentOf(data);
        std::uint64_t reported = 0;
        auto sink = folder->receiveTree("world", {});
        QVERIFY2(sink && sink->makeFolder(top) &&
                     sink->writeFile(
                         {"level.dat", ItemKind::RegularFile, data->size(), 04755, {}, ""}, content,
                         [&](std::uint64_t bytes) { return (reported += bytes) > 0; }) &&
                     sink->finish(),
                 why(*folder).c_str());
        sink.reset();
        QCOMPARE(reported, data->size());
        QCOMPARE(readFile(root / "world/level.dat"), *data);
        QCOMPARE(modeOf(root / "world/level.dat"), mode_t{0755});
        QVERIFY(!folder->receiveTree("world", {})->makeFolder(top));
        folder->takeFailure();

        // Renames never replace.
        writeFile(root / "taken", "x");
        QVERIFY(!folder->rename("world", "taken"));
        QVERIFY(folder->takeFailure());
        QVERIFY(folder->rename("world", "moved"));
        QVERIFY(fs::exists(root / "moved/level.dat"));

        // Removal leaves what another account made, and does not follow links out.
        QTemporaryDir outside;
        writeFile(outside.path().toStdString() + "/keep", "keep");
        fs::create_directory_symlink(outside.path().toStdString(), root / "moved/out");
        writeFile(root / "moved/region/theirs", "theirs");
        QCOMPARE(::chown((root / "moved/region/theirs").c_str(), serverUser, serverUser), 0);
        QVERIFY(!folder->removeTree("moved"));
        QVERIFY(why(*folder).find("another account") != std::string::npos);
        QVERIFY(fs::exists(root / "moved/region/theirs"));
        QVERIFY(!fs::exists(root / "moved/level.dat"));
        QCOMPARE(::chown((root / "moved/region/theirs").c_str(), ::getuid(), ::getgid()), 0);
        QVERIFY(folder->removeTree("moved"));
        QVERIFY(!fs::exists(root / "moved"));
        QCOMPARE(readFile(outside.path().toStdString() + "/keep"), std::string("keep"));

        // Text files: replaced whole with their bits, read bounded, links out refused, and an
        // old copy left by a lost connection put back.
        const std::string fresh = "level-name=new\n";
        writeFile(root / "server.properties", "level-name=old\n");
        fs::permissions(root / "server.properties", fs::perms(0640));
        const std::optional<ItemInfo> like = folder->itemInfo("server.properties");
        QVERIFY(like && like->kind == ItemKind::RegularFile);
        QVERIFY(folder->writeFileAtomically("server.properties", fresh, *like));
        QCOMPARE(readFile(root / "server.properties"), fresh);
        QCOMPARE(modeOf(root / "server.properties"), mode_t{0640});
        QCOMPARE(folder->entries("")->size(), std::size_t{2}); // taken, server.properties
        QCOMPARE(folder->readTextFile("server.properties", 100)->text, fresh);
        QVERIFY(!folder->readTextFile("server.properties", 5));
        fs::create_symlink("/etc/hostname", root / "link.properties");
        fs::create_symlink("../" + root.filename().string() + "/server.properties",
                           root / "around.properties");
        fs::create_symlink("server.properties", root / "in.properties");
        QVERIFY(!folder->readTextFile("link.properties", 100));
        QVERIFY(!folder->readTextFile("around.properties", 100));
        QCOMPARE(folder->readTextFile("in.properties", 100)->text, fresh);
        fs::rename(root / "server.properties", root / ".plovermantle-old-server.properties");
        QCOMPARE(folder->readTextFile("server.properties", 100)->text, fresh);
        folder->takeFailure();

        // The copy lock: one holder; one left by a gone process of this computer, or by this
        // process on a lost connection, is taken over; anyone else's is not.
        const std::string lock = ".plovermantle.lock";
        CopyLockAttempt first = folder->lockExclusively(lock);
        QCOMPARE(first.outcome, LockOutcome::Taken);
        CopyLockAttempt second = folder->lockExclusively(lock);
        QCOMPARE(second.outcome, LockOutcome::HeldElsewhere);
        QCOMPARE(second.holder.pid, std::int64_t{::getpid()});
        first.lock.reset();
        QVERIFY(!fs::exists(root / lock));
        const pid_t gone = ::fork();
        if (gone == 0) {
            ::_exit(0);
        }
        ::waitpid(gone, nullptr, 0);
        const auto held = [](const std::string& host, std::int64_t pid) {
            return "host=" + host + "\npid=" + std::to_string(pid) +
                   "\nsince=2026-01-01T00:00:00Z\n";
        };
        const std::string here = QSysInfo::machineHostName().toStdString();
        const std::vector<std::pair<std::string, LockOutcome>> left = {
            {held(here, gone), LockOutcome::Taken},
            {held(here, ::getpid()), LockOutcome::Taken},
            {held("elsewhere", 1), LockOutcome::HeldElsewhere},
            {"garbage", LockOutcome::HeldElsewhere},
        };
        for (const auto& [text, outcome] : left) {
            writeFile(root / lock, text);
            const CopyLockAttempt attempt = folder->lockExclusively(lock);
            QCOMPARE(attempt.outcome, outcome);
            QCOMPARE(attempt.holder.readable, text != "garbage" && outcome != LockOutcome::Taken);
            if (outcome == LockOutcome::Taken) {
                QVERIFY(readFile(root / lock).find("pid=" + std::to_string(::getpid())) !=
                        std::string::npos);
            }
        }
        QVERIFY(folder->breakLock(lock));
        QVERIFY(!fs::exists(root / lock));

        // A world's session.lock held by a running process, as the server holds it.
        writeFile(root / "w/session.lock", "");
        GameLock holder;
        QVERIFY(holder.take(root / "w/session.lock"));
        QCOMPARE(folder->isLockHeld("w/session.lock"), shell ? std::optional(true) : std::nullopt);
        holder.release();
        QCOMPARE(folder->isLockHeld("w/session.lock"), shell ? std::optional(false) : std::nullopt);
        QCOMPARE(folder->isLockHeld("w/missing"), shell ? std::optional(false) : std::nullopt);
    }

    // A file stopped half way by the user leaves the connection usable and the part made
    // removable at once; a connection cut meanwhile fails the copy soon, and all after it.
    void interrupted_data() {
        QTest::addColumn<SshdFixture::Mode>("mode");
        QTest::addColumn<bool>("cut");
        QTest::newRow("shell, stopped") << SshdFixture::Mode::Shell << false;
        QTest::newRow("shell, cut") << SshdFixture::Mode::Shell << true;
        QTest::newRow("SFTP only, stopped") << SshdFixture::Mode::SftpOnly << false;
        QTest::newRow("SFTP only, cut") << SshdFixture::Mode::SftpOnly << true;
    }

    void interrupted() {
        QFETCH(SshdFixture::Mode, mode);
        QFETCH(bool, cut);
        QTemporaryDir server;
        const auto folder = open(mode, server.path().toStdString());
        QVERIFY(folder);
        auto sink = folder->receiveTree("world", {});
        QVERIFY(sink->makeFolder({"", ItemKind::Folder, 0, 0755, {}, ""}));
        const auto data = std::make_shared<std::string>(64 * 1024 * 1024, 'c');
        int pieces = 0;
        FileContent content = contentOf(data, [&] {
            if (++pieces == 3 && cut) {
                fixture(mode).killSessions();
            }
        });
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!sink->writeFile({"big", ItemKind::RegularFile, data->size(), 0644, {}, ""},
                                 content, [&](std::uint64_t) { return cut || pieces < 3; }));
        const std::optional<FileFailure> failure = folder->takeFailure();
        QCOMPARE(failure.has_value(), cut);
        sink.reset();
        if (cut) {
            // Where, and that the connection is why, not the disk or tar.
            const std::string said = describe(*failure);
            QVERIFY2(said.find("127.0.0.1") != std::string::npos &&
                         said.find(": the connection was lost") != std::string::npos,
                     said.c_str());
            QVERIFY(!folder->itemInfo("world"));
        } else {
            QVERIFY2(folder->removeTree("world"), why(*folder).c_str());
            QVERIFY(!fs::exists(server.path().toStdString() + "/world"));
        }
        QVERIFY(timer.elapsed() < 20000);
    }

    // The whole job, as the window and the command line run it: a new world, Replace keeping the
    // old world and its Nether in the replaced folder, a running server refused, the question an
    // SFTP-only host needs, Cancel mid-way, and the name written for both Java readers.
    void remoteJob_data() {
        QTest::addColumn<Job>("c");
        using enum CopyOutcome;
        QTest::newRow("new") << Job{.world = "Café ☃", .old = false};
        QTest::newRow("replace") << Job{};
        QTest::newRow("replace, SFTP only") << Job{.mode = SshdFixture::Mode::SftpOnly};
        QTest::newRow("running") << Job{.running = true, .outcome = Failed};
        QTest::newRow("cancelled") << Job{.cancelAt = 3, .outcome = Cancelled};
        QTest::newRow("cancelled, SFTP only") << Job{
            .mode = SshdFixture::Mode::SftpOnly, .old = false, .cancelAt = 3, .outcome = Cancelled};
    }

    void remoteJob() {
        QFETCH(Job, c);
        const auto [mode, name, old, running, cancelAt, outcome] = c;
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        buildTree(root / "saves" / name, sampleWorld);
        buildTree(root / "server", {"f:server.properties=motd=hi\nlevel-name=old\n"});
        if (old) {
            buildTree(root / "server",
                      {"f:" + name + "/level.dat=old",
                       "f:" + name + "/session.lock=", "f:" + name + "_nether/r=old"});
        }
        GameLock holder;
        QVERIFY(!running || holder.take(root / "server" / name / "session.lock"));
        // The folder itself changes time as the copy lock comes and goes.
        Snapshot before = snapshotTree(root / "server");
        before.erase("");
        PosixFileSystem files;
        QtPreferences prefs(dir.filePath("prefs.ini"));
        RecordingDialogs dialogs;
        dialogs.cancelAfterCalls = cancelAt;
        Platform platform{files, prefs, dialogs, &prompts_};
        const std::string destination =
            "ssh://127.0.0.1:" + std::to_string(fixture(mode).port()) + (root / "server").string();
        const auto result = deployWorld(platform, destination, (root / "saves").string(), name);
        holder.release();
        QCOMPARE(result, outcome);
        if (result != CopyOutcome::Deployed) {
            Snapshot after = snapshotTree(root / "server");
            after.erase("");
            QCOMPARE(after, before);
            return;
        }
        // SFTP and tar keep times to the second, and SFTP cannot set a link's own time.
        const auto toSeconds = [](Snapshot snapshot) {
            for (auto& [item, state] : snapshot) {
                state = QString::fromStdString(state)
                            .replace(QRegularExpression("\\.\\d+ "), " ")
                            .replace(QRegularExpression("^link (\\d+) \\d+ "), "link \\1 ")
                            .toStdString();
            }
            return snapshot;
        };
        QCOMPARE(toSeconds(snapshotTree(root / "server" / name)),
                 toSeconds(snapshotTree(root / "saves" / name)));
        // Both Java readers find the folder: everything past ASCII is escaped.
        const std::string props = readFile(root / "server/server.properties");
        QVERIFY2(props.starts_with("motd=hi\nlevel-name=") &&
                     std::ranges::all_of(props, [](char byte) { return (byte & 0x80) == 0; }),
                 props.c_str());
        QCOMPARE(readFile(root / "server/server.properties.backup"), "motd=hi\nlevel-name=old\n");
        if (old) {
            const fs::path at =
                fs::directory_iterator(root / "server/.plovermantle-replaced")->path();
            QCOMPARE(readFile(at / name / "level.dat"), "old");
            QCOMPARE(readFile(at / (name + "_nether") / "r"), "old");
            QVERIFY(!fs::exists(root / "server" / (name + "_nether")));
        }
        // Without a shell, whether the server runs is asked.
        QCOMPARE(std::ranges::count(dialogs.alerts, Messages::serverRunningUnknown) == 1,
                 old && mode == SshdFixture::Mode::SftpOnly);
    }

    // A host that takes the connection and says nothing fails in the time given, or as soon as
    // the user stops it.
    void silentHost_data() {
        QTest::addColumn<bool>("stop");
        QTest::addColumn<QString>("reason");
        QTest::newRow("times out") << false << "did not answer within 1 seconds";
        QTest::newRow("stopped") << true << "stopped by the user";
    }

    void silentHost() {
        QFETCH(bool, stop);
        QFETCH(QString, reason);
        // Listening, so the connection is taken, and never accepting, so nothing is said.
        int port = 0;
        const int silent = loopbackSocket(true, port);
        QVERIFY(port != 0);
        std::atomic<bool> cancel = false;
        std::thread user([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            cancel = stop;
        });
        QElapsedTimer timer;
        timer.start();
        FileFailure failure;
        const auto connection =
            SshConnection::open({"", "127.0.0.1", port, "/"}, prompts_,
                                {home_.path().toStdString(), 1, &cancel}, failure);
        user.join();
        ::close(silent);
        QVERIFY(!connection);
        QVERIFY2(describe(failure).find(reason.toStdString()) != std::string::npos,
                 describe(failure).c_str());
        QVERIFY(timer.elapsed() < (stop ? 900 : 3000));
    }
};

QTEST_GUILESS_MAIN(RemoteTest)
#include "RemoteTest.moc"
