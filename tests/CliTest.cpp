// plovermantle-cli run as a script runs it, against a real saves folder and server folder: what it
// prints, what it leaves in the server folder, and the exit status that tells the script so.
#include "support/ArchiveWriter.h"
#include "support/LevelDatWriter.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <thread>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
namespace fs = std::filesystem;

namespace {

struct Run {
    Layout args;  // "@" stands for the scene's root
    Layout setup; // buildTree entries under the root, made before the run
    int status;
    std::string err;   // standard error, "*" matching any text
    std::string out;   // standard output
    Layout server;     // what the server folder holds after
    std::string props; // and its server.properties
};

std::string replaced(const std::string& text, const fs::path& root) {
    return QString::fromStdString(text).replace('@', QString::fromStdString(root)).toStdString();
}

// Whether `text` is `pattern`, each "*" in it standing for any text.
bool matches(const std::string& text, const std::string& pattern) {
    const QString any =
        QRegularExpression::escape(QString::fromStdString(pattern)).replace("\\*", ".*");
    return QRegularExpression(QRegularExpression::anchoredPattern(any),
                              QRegularExpression::DotMatchesEverythingOption)
        .match(QString::fromStdString(text))
        .hasMatch();
}

const std::string copied = "World copied.: Be sure to restart the server.\n";
const std::string usage = "Usage: plovermantle-cli list*";
const Layout deployed = {"Alpha", "server.properties", "server.properties.backup"};
const std::string pointed = "level-name=Alpha\n";
const std::string settings = "f:config/Plovermantle/Plovermantle.conf=[General]\n"
                             "savesPathKey=@/saves\nserverPathKey=@/server\n";

// The saves folder, the server folder and an archive of a downloaded map, under `root`.
void makeScene(const fs::path& root) {
    using namespace LevelDatWriter;
    writeFile(root / "saves/Alpha/level.dat",
              gzip(levelNbt("Alpha World", 1700000000000, 0, false, "1.21")));
    writeFile(root / "saves/Alpha/region/r.0.0.mca", "region");
    writeFile(root / "saves/Beta/data.txt", "b");
    writeFile(root / "server/server.properties", "level-name=world\n");
    writeFile(root / "bad.tar", makeArchive("tar", {"f:w/level.dat=x", "f:w/../../evil=x"}));
    writeFile(root / "maps.zip",
              makeArchive("zip", {"f:Download/MyMap/level.dat=" +
                                  gzip(levelNbt("Sky\tMap", 0, 0, false, "1.21"))}));
}

void start(QProcess& process, const fs::path& root, const Layout& args) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString(root / "config"));
    process.setProcessEnvironment(environment);
    QStringList arguments;
    for (const std::string& arg : args) {
        arguments << QString::fromStdString(replaced(arg, root));
    }
    process.start(PLOVERMANTLE_CLI, arguments);
}

} // namespace

Q_DECLARE_METATYPE(Run)

class CliTest : public QObject {
    Q_OBJECT

private slots:
    void runs_data() {
        QTest::addColumn<Run>("c");
        const auto row = [](const char* name, Layout args, Layout setup, int status,
                            std::string err, std::string out = {},
                            Layout server = {"server.properties"},
                            std::string props = "level-name=world\n") {
            QTest::newRow(name) << Run{args, setup, status, err, out, server, props};
        };
        const Layout alpha{"copy", "Alpha", "--saves", "@/saves", "--to", "@/server"};
        const Layout old{"f:server/Alpha/old=o"};
        const std::string listed = "Alpha\tAlpha World\t2023-11-14T22:13:20Z\nBeta\tBeta\t-\n";
        const std::string outside = "Error!: The archive cannot be used: it holds a path that "
                                    "leads outside its folder, “w/../../evil”.\nunpack @/bad.tar: "
                                    "w/../../evil: a path that leads outside the folder it is "
                                    "unpacked into\n";
        const std::string unread = "Error!: The world was copied, but server.properties could not "
                                   "be read, *\nread @/server/gone: *\n" +
                                   copied;
        const std::string noWorld =
            "Error!: The saves folder holds no world of that name.\n@/saves/Zeta\n";
        const Layout myMap{"MyMap", "server.properties", "server.properties.backup"};
        const Layout kept{"Alpha", "server.properties"};
        const Layout fromMaps{"copy", "MyMap", "--saves", "@/maps.zip", "--to", "@/server"};

        row("list, most recently played first", {"list", "--saves", "@/saves"}, {}, 0, "", listed);
        row("list an archive, a tab in a name made harmless", {"list", "--saves=@/maps.zip"}, {}, 0,
            "", "MyMap\tSky?Map\t1970-01-01T00:00:00Z\n");
        row("list an archive that is refused", {"list", "--saves", "@/bad.tar"}, {}, 1, outside);
        row("list a folder that is not there", {"list", "--saves", "@/none"}, {}, 1,
            "Error!: Unable to read the saves folder.\n*");
        row("copy", alpha, {}, 0, copied, "", deployed, pointed);
        row("copy to the remembered folders", {"copy", "Alpha"}, {settings}, 0, copied, "",
            deployed, pointed);
        row("copy from an archive, two folders deep", fromMaps, {}, 0, copied, "", myMap,
            "level-name=MyMap\n");
        row("exists, no --replace", alpha, old, 3,
            "World exists!: A world of that name is in the server folder.*", "", kept);
        row("exists, --replace",
            {"copy", "Alpha", "--replace", "--saves", "@/saves", "--to", "@/server"}, old, 0,
            copied, "", deployed, pointed);
        row("server.properties unreadable", alpha, {"l:server/server.properties>gone"}, 4, unread,
            "", kept);
        row("no such world", {"copy", "Zeta", "--saves", "@/saves", "--to", "@/server"}, {}, 1,
            noWorld);
        row("no server folder", {"copy", "Alpha", "--saves", "@/saves"}, {}, 2, "Come on!: *\n");
        row("no arguments", {}, {}, 2, usage);
        row("copy without a world", {"copy", "--to", "@/server"}, {}, 2, usage);
        row("unknown option", {"list", "--force"}, {}, 2, usage);
        row("help", {"--help"}, {}, 0, "", usage + "Exit status*");
    }
    void runs() {
        QFETCH(Run, c);
        const QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        makeScene(root);
        std::ranges::transform(c.setup, c.setup.begin(),
                               [&](auto& entry) { return replaced(entry, root); });
        buildTree(root, c.setup);
        QProcess process;
        start(process, root, c.args);
        QVERIFY(process.waitForFinished(30000));
        const std::string err = process.readAllStandardError().toStdString();
        const std::string out = process.readAllStandardOutput().toStdString();
        QVERIFY2(matches(err, replaced(c.err, root)), err.c_str());
        QVERIFY2(matches(out, c.out), out.c_str());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), c.status);
        QCOMPARE(entries(root / "server"), c.server);
        if (fs::is_regular_file(root / "server/server.properties")) {
            QCOMPARE(readFile(root / "server/server.properties"), c.props);
        }
    }

    // Interrupted in the middle of a copy, it stops as the Cancel button does: the server folder
    // is as it was, and the status says the job failed.
    void stopsOnSigterm() {
        const QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        makeScene(root);
        for (int i = 0; i < 1500; ++i) {
            writeFile(root / "saves/Alpha/region" / ("r." + std::to_string(i) + ".mca"),
                      std::string(40000, 'r'));
        }
        QProcess process;
        start(process, root, {"copy", "Alpha", "--saves", "@/saves", "--to", "@/server"});
        QVERIFY(process.waitForStarted());
        // Mid-copy: a few of the world's files have reached the staging folder.
        const auto copying = [&] {
            return std::ranges::any_of(
                fs::directory_iterator(root / "server"), [](const auto& item) {
                    const fs::path region = item.path() / "Alpha/region";
                    return fs::exists(region) && std::distance(fs::directory_iterator(region),
                                                               fs::directory_iterator()) > 10;
                });
        };
        for (int wait = 0; !copying(); ++wait) {
            QVERIFY2(wait < 20000 && process.state() == QProcess::Running, "never mid-copy");
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(process.readAllStandardError().toStdString(), "");
        QCOMPARE(entries(root / "server"), Layout{"server.properties"});
        QCOMPARE(readFile(root / "server/server.properties"), "level-name=world\n");
    }
};

QTEST_GUILESS_MAIN(CliTest)
#include "CliTest.moc"
