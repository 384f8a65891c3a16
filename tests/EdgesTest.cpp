// What comes from outside the app's control: the user's Trash, whatever shape it is in, and the
// icon.png and instance.cfg files of worlds and launchers.
#include "platform/PosixFileSystem.h"
#include "platform/Trash.h"
#include "settings/InstanceConfig.h"
#include "settings/SavesFolders.h"
#include "support/TestSupport.h"
#include "worlds/WorldDiscovery.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
namespace fs = std::filesystem;
using Layout = std::vector<std::string>;

namespace {

constexpr uid_t otherUser = 34567;
const std::string homeTrash = "home/.local/share/Trash";
const std::string uid = std::to_string(::geteuid());

struct TrashCase {
    Layout layout;                  // under the scene: home/ and server/
    std::vector<std::string> names; // moved from server/, in turn
    std::string trash;              // where they land, from the scene; empty when refused
    Layout foreign = {};            // handed to another account
    uid_t user = 0;                 // another account to run as, the scene handed to it
    std::string dataHome = {};      // XDG_DATA_HOME; the scene's home/.local/share when empty
    bool ownFileSystem = false;     // server/ is a file system of its own
};

// The items directly in `folder` and their own snapshots (kind, bits, time, content).
std::map<std::string, std::string> items(const fs::path& folder) {
    std::map<std::string, std::string> found;
    if (fs::is_directory(fs::symlink_status(folder))) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            found[entry.path().filename()] = snapshotTree(entry.path())[""];
        }
    }
    return found;
}

// What Debian's trash-list, an independent reader of the records, says is in the Trash.
QString trashList(const fs::path& scene) {
    QProcess list;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", QString::fromStdString(scene / "home"));
    env.insert("XDG_DATA_HOME", QString::fromStdString(scene / "home/.local/share"));
    env.insert("LC_ALL", "C.UTF-8");
    list.setProcessEnvironment(env);
    list.start("trash-list", {});
    list.waitForFinished(30000);
    return QString::fromUtf8(list.readAllStandardOutput());
}

QByteArray chunk(const QByteArray& type, const QByteArray& data) {
    QByteArray out;
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += static_cast<char>((data.size() >> shift) & 0xFF);
    }
    const QByteArray typed = type + data;
    const auto crc = static_cast<quint32>(
        crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size())));
    out += typed;
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += static_cast<char>((crc >> shift) & 0xFF);
    }
    return out;
}

QImage sampleIcon(QImage::Format format) {
    QImage image(64, 64, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter(&image).fillRect(8, 8, 40, 24, QColor(30, 140, 60));
    return image.convertToFormat(format);
}

QByteArray pngOf(const QImage& image) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

} // namespace

Q_DECLARE_METATYPE(TrashCase)

class EdgesTest : public QObject {
    Q_OBJECT

private slots:
    // Each item goes to the right Trash, as itself, with a record an independent reader decodes
    // to its exact path; or, when no Trash can take it, everything stays as it was. Either way at
    // once.
    void movesToTheTrash_data() {
        QTest::addColumn<TrashCase>("c");
        const std::string cjk = [] {
            std::string name;
            for (int i = 0; i < 82; ++i) {
                name += "世";
            }
            return name + "_survival"; // 255 bytes
        }();
        const std::string long239(239, 'w');
        const Layout trashMade{"d:" + homeTrash + "/files", "d:" + homeTrash + "/info"};
        QTest::newRow("escaped path") << TrashCase{
            {"d:server/Mod%41pack/region", "f:server/Season 1%2F2=s", "f:server/Line\nBreak=l"},
            {"Mod%41pack", "Season 1%2F2", "Line\nBreak"},
            homeTrash};
        QTest::newRow("255-byte name") << TrashCase{{"f:server/" + cjk + "=c"}, {cjk}, homeTrash};
        QTest::newRow("239 bytes and _nether")
            << TrashCase{{"f:server/" + long239 + "=o", "f:server/" + long239 + "_nether=n"},
                         {long239, long239 + "_nether"},
                         homeTrash};
        QTest::newRow("dangling link")
            << TrashCase{{"l:server/World_nether>gone"}, {"World_nether"}, homeTrash};
        QTest::newRow("namesake dangling in files") << TrashCase{
            {"f:server/World=w", "l:" + homeTrash + "/files/World>gone"}, {"World"}, homeTrash};
        QTest::newRow("relative XDG_DATA_HOME")
            << TrashCase{{"f:server/World=w"}, {"World"}, homeTrash, {}, 0, "relative/share"};
        QTest::newRow("home Trash a link")
            << TrashCase{{"d:home/real/files", "d:home/real/info",
                          "l:home/.local/share/Trash>../../real", "f:server/World=w"},
                         {"World"},
                         ""};
        Layout layout = trashMade;
        layout.push_back("f:server/World=w");
        QTest::newRow("info another account's")
            << TrashCase{layout, {"World"}, "", {homeTrash + "/info"}};
        layout.push_back("m:" + homeTrash + "/info=0500");
        QTest::newRow("info not writable")
            << TrashCase{layout, {"World"}, "", {}, ::geteuid() == 0 ? otherUser : 0};
        // Each with a link that leads back to the home Trash's file system.
        const std::vector<std::string> pair{"World", "World_nether"};
        const Layout own{"f:server/World=w", "l:server/World_nether>../home"};
        const auto onItsOwn = [&](Layout extra, std::string trash) {
            extra.insert(extra.end(), own.begin(), own.end());
            return TrashCase{extra, pair, std::move(trash), {}, 0, {}, true};
        };
        QTest::newRow("other file system") << onItsOwn({}, "server/.Trash-" + uid);
        QTest::newRow("other file system, shared .Trash")
            << onItsOwn({"d:server/.Trash", "m:server/.Trash=01777"}, "server/.Trash/" + uid);
        QTest::newRow("other file system, .Trash a link")
            << onItsOwn({"d:server/shared", "m:server/shared=01777", "l:server/.Trash>shared"},
                        "server/.Trash-" + uid);
    }

    void movesToTheTrash() {
        QFETCH(TrashCase, c);
        const bool root = ::geteuid() == 0;
        if ((c.ownFileSystem || !c.foreign.empty()) && !root) {
            QSKIP("mounting a file system and giving a folder away need root");
        }
        QTemporaryDir dir;
        const fs::path scene = dir.path().toStdString();
        fs::create_directories(scene / "server");
        if (c.ownFileSystem) {
            QCOMPARE(::mount("tmpfs", (scene / "server").c_str(), "tmpfs", 0, "size=4m"), 0);
        }
        const auto unmount = qScopeGuard([&] {
            if (c.ownFileSystem) {
                ::umount2((scene / "server").c_str(), MNT_DETACH);
            }
        });
        buildTree(scene, c.layout);
        if (c.user != 0) {
            for (const auto& item : fs::recursive_directory_iterator(scene)) {
                QCOMPARE(::lchown(item.path().c_str(), c.user, c.user), 0);
            }
            QCOMPARE(::chown(scene.c_str(), c.user, c.user), 0);
        }
        for (const std::string& item : c.foreign) {
            QCOMPARE(::lchown((scene / item).c_str(), otherUser, otherUser), 0);
        }
        const fs::path trash = scene / (c.trash.empty() ? homeTrash : c.trash);
        const Snapshot before = snapshotTree(scene);
        const auto filesBefore = items(trash / "files");
        std::vector<std::string> moved;
        for (const std::string& name : c.names) {
            moved.push_back(snapshotTree(scene / "server" / name)[""]);
        }

        QElapsedTimer timer;
        timer.start();
        const pid_t child = ::fork();
        if (child == 0) {
            ::alarm(10); // a loop in the Trash would otherwise hold the suite
            ::setenv("HOME", (scene / "home").c_str(), 1);
            ::setenv(
                "XDG_DATA_HOME",
                c.dataHome.empty() ? (scene / "home/.local/share").c_str() : c.dataHome.c_str(), 1);
            if (c.user != 0 &&
                (::setgroups(0, nullptr) != 0 || ::setresgid(c.user, c.user, c.user) != 0 ||
                 ::setresuid(c.user, c.user, c.user) != 0)) {
                ::_exit(3);
            }
            const int parent = ::open((scene / "server").c_str(), O_RDONLY | O_DIRECTORY);
            if (::chdir(scene.c_str()) != 0 || parent < 0) {
                ::_exit(3);
            }
            for (const std::string& name : c.names) {
                FileFailure failure;
                if (!moveToTrash(parent, (scene / "server").string(), name, &failure)) {
                    ::_exit(failure.path.empty() ? 2 : 1); // refused, and said why
                }
            }
            ::_exit(0);
        }
        int status = -1;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY2(timer.elapsed() < 5000, "took too long");
        QCOMPARE(status, c.trash.empty() ? 1 << 8 : 0);
        QVERIFY(!fs::exists(scene / "relative"));

        const QString listed = trashList(scene);
        if (c.trash.empty()) {
            QCOMPARE(snapshotTree(scene), before);
            QVERIFY2(!listed.contains(QString::fromStdString(scene)), qPrintable(listed));
            return;
        }
        std::vector<std::string> landed;
        for (const auto& [name, item] : items(trash / "files")) {
            if (!filesBefore.contains(name)) {
                landed.push_back(item);
            }
        }
        std::sort(moved.begin(), moved.end());
        std::sort(landed.begin(), landed.end());
        QCOMPARE(landed, moved);
        for (const auto& [name, item] : filesBefore) {
            QCOMPARE(items(trash / "files").at(name), item);
        }
        for (const std::string& name : c.names) {
            QVERIFY(!fs::exists(fs::symlink_status(scene / "server" / name)));
            const QString line = QString::fromStdString(" " + (scene / "server" / name).string());
            QVERIFY2(listed.contains(line + "\n"), qPrintable(listed));
        }
    }

    // Put back from the Trash as it was, its record gone; never over what took its name meanwhile.
    void restoresWithoutReplacing_data() {
        QTest::addColumn<bool>("taken");
        QTest::newRow("free") << false;
        QTest::newRow("taken meanwhile") << true;
    }

    void restoresWithoutReplacing() {
        QFETCH(bool, taken);
        QTemporaryDir dir;
        const fs::path scene = dir.path().toStdString();
        ::setenv("HOME", (scene / "home").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (scene / "home/.local/share").c_str(), 1);
        buildTree(scene, {"f:server/Season 1%2F2/level.dat=l", "l:server/Season 1%2F2/x>gone"});
        const Snapshot world = snapshotTree(scene / "server/Season 1%2F2");
        const int parent = ::open((scene / "server").c_str(), O_RDONLY | O_DIRECTORY);
        QVERIFY(parent >= 0);
        const auto closer = qScopeGuard([&] { ::close(parent); });
        const auto trashed = moveToTrash(parent, (scene / "server").string(), "Season 1%2F2");
        QVERIFY(trashed && fs::exists(trashed->record));
        if (taken) {
            writeFile(scene / "server/Season 1%2F2", "new");
        }
        QCOMPARE(restoreFromTrash(*trashed, parent, "Season 1%2F2"), !taken);
        QCOMPARE(fs::exists(trashed->record), taken);
        QCOMPARE(snapshotTree(taken ? fs::path(trashed->path) : scene / "server/Season 1%2F2"),
                 world);
    }

    // Only what draws the icon reaches the decoder: the same image, from a few KiB at most; an
    // icon too large or not well formed is not decoded at all.
    void boundsTheIcon_data() {
        QTest::addColumn<QByteArray>("png");
        QTest::addColumn<QImage>("image"); // null when refused
        const QImage plain = sampleIcon(QImage::Format_ARGB32);
        const QByteArray clean = pngOf(plain);
        const QByteArray header = clean.left(33); // signature and IHDR
        QByteArray bomb = header;
        const QByteArray zeros(1 << 20, '\0');
        const QByteArray text = "Comment" + QByteArray(2, '\0') + qCompress(zeros).mid(4);
        for (int i = 0; i < 200; ++i) {
            bomb += chunk("zTXt", text);
        }
        bomb += clean.mid(33);
        QVERIFY(bomb.size() < (1 << 20));
        QTest::newRow("200 compressed texts") << bomb << plain;
        const QImage indexed = sampleIcon(QImage::Format_Indexed8);
        QTest::newRow("palette and transparency") << pngOf(indexed) << indexed;
        QImage wide(2048, 1, QImage::Format_RGB32);
        wide.fill(Qt::red);
        QTest::newRow("2048 wide") << pngOf(wide) << QImage();
        QByteArray corrupt = clean;
        corrupt[45] = static_cast<char>(corrupt[45] ^ 1);
        QTest::newRow("bad checksum") << corrupt << QImage();
        QTest::newRow("no end") << clean.chopped(12) << QImage();
        QTest::newRow("unknown critical chunk")
            << header + chunk("ABCD", "x") + clean.mid(33) << QImage();
    }

    void boundsTheIcon() {
        QFETCH(QByteArray, png);
        QFETCH(QImage, image);
        QTemporaryDir dir;
        writeFile(dir.filePath("icon.png").toStdString(), png.toStdString());
        PosixFileSystem files;
        const std::string icon = readWorldDetails(files, dir.path().toStdString()).icon;
        QVERIFY(icon.size() < 8192);
        QCOMPARE(QImage::fromData(bytes(icon)).convertToFormat(QImage::Format_ARGB32),
                 image.convertToFormat(QImage::Format_ARGB32));
    }

    // A launcher instance is named from the start of its instance.cfg, however long the file.
    void readsTheStartOfInstanceCfg_data() {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QString>("name");
        const QByteArray comments(100 * 1024, ';');
        QTest::newRow("small") << QByteArray("name=Pack\n") << "Pack";
        QTest::newRow("name, then 100 KiB") << "name=Pack\n" + comments << "Pack";
        QTest::newRow("name past 64 KiB") << comments + "\nname=Pack\n"
                                          << "inst";
    }

    void readsTheStartOfInstanceCfg() {
        QFETCH(QByteArray, config);
        QFETCH(QString, name);
        QTemporaryDir dir;
        const fs::path instances = dir.path().toStdString();
        fs::create_directories(instances / "inst/minecraft/saves");
        writeFile(instances / "inst/instance.cfg", config.toStdString());
        PosixFileSystem files;
        const auto found = findSavesFolders(files, {{Launcher::Prism, instances.string(), true}});
        QCOMPARE(found.size(), std::size_t{1});
        QCOMPARE(QString::fromStdString(found[0].instanceName), name);
    }
};

QTEST_GUILESS_MAIN(EdgesTest)
#include "EdgesTest.moc"
