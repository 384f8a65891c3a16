// What comes from outside the app's control: the user's Trash, whatever shape it is in, and the
// icon.png files of worlds.
#include "platform/PosixFileSystem.h"
#include "platform/Trash.h"
#include "support/TestSupport.h"
#include "worlds/WorldDiscovery.h"

#include <QBuffer>
#include <QDataStream>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <set>
#include <sys/mount.h>
#include <unistd.h>
#include <zlib.h>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
namespace fs = std::filesystem;

namespace {

struct TrashCase {
    Layout layout;                  // under the scene: home/ and server/
    std::vector<std::string> names; // moved from server/, in turn
    std::string trash;              // where they land, from the scene; empty when refused
    std::string foreign = {};       // handed to another account
    uid_t user = 0;                 // another account to run as, the scene handed to it
    std::string dataHome = {};      // XDG_DATA_HOME; the scene's home/.local/share when empty
    bool ownFileSystem = false;     // server/ is a file system of its own
};

// What Debian's trash-list, a reader of the records independent of ours, says the Trash holds.
QString trashList(const fs::path& scene) {
    ::setenv("XDG_DATA_HOME", (scene / "home/.local/share").c_str(), 1);
    ::setenv("LC_ALL", "C.UTF-8", 1);
    QProcess list;
    list.start("trash-list", {});
    list.waitForFinished(30000);
    return QString::fromUtf8(list.readAllStandardOutput());
}

QByteArray chunk(const QByteArray& type, const QByteArray& data) {
    const QByteArray typed = type + data;
    QByteArray out;
    QDataStream stream(&out, QIODevice::WriteOnly); // big-endian
    stream << static_cast<quint32>(data.size());
    stream.writeRawData(typed.data(), static_cast<int>(typed.size()));
    stream << static_cast<quint32>(
        crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size())));
    return out;
}

QByteArray pngOf(const QImage& image) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return buffer.data();
}

} // namespace

Q_DECLARE_METATYPE(TrashCase)

class EdgesTest : public QObject {
    Q_OBJECT

private slots:
    // Each item goes to the right Trash as itself, with a record that an independent reader
    // decodes to its exact path; or, when no Trash can take it, everything stays as it was. Either
    // way at once.
    void movesToTheTrash_data() {
        QTest::addColumn<TrashCase>("c");
        const std::string cjk = QString("世").repeated(82).toStdString() + "_survival"; // 255 bytes
        const std::string w(239, 'w');
        const std::string home = "home/.local/share/Trash";
        const std::string own = "server/.Trash-" + std::to_string(::geteuid());
        const auto row = [](const char* name, TrashCase c) {
            QTest::newRow(name) << c;
        };
        row("escaped",
            {{"d:server/Mod%41pack/region", "f:server/Season 1%2F2=s", "f:server/Line\nBreak=l"},
             {"Mod%41pack", "Season 1%2F2", "Line\nBreak"},
             home});
        row("255 bytes", {{"f:server/" + cjk + "=c"}, {cjk}, home});
        row("239 bytes, _nether",
            {{"f:server/" + w + "=o", "f:server/" + w + "_nether=n"}, {w, w + "_nether"}, home});
        row("dangling link", {{"l:server/World_nether>gone"}, {"World_nether"}, home});
        row("dangling namesake in files",
            {{"f:server/W=w", "l:" + home + "/files/W>gone"}, {"W"}, home});
        row("relative XDG_DATA_HOME", {{"f:server/W=w"}, {"W"}, home, {}, 0, "relative/share"});
        row("home Trash a link",
            {{"d:home/real/files", "d:home/real/info", "l:" + home + ">../../real", "f:server/W=w"},
             {"W"},
             ""});
        const Layout made{"d:" + home + "/files", "d:" + home + "/info", "f:server/W=w"};
        row("info another account's", {made, {"W"}, "", home + "/info"});
        Layout readOnly = made;
        readOnly.push_back("m:" + home + "/info=0500");
        row("info not writable", {readOnly, {"W"}, "", {}, ::geteuid() == 0 ? desktopUser : 0});
        // Each with a link that leads back to the home Trash's file system.
        const auto apart = [&](const char* name, Layout layout, std::string trash) {
            layout.insert(layout.end(), {"f:server/W=w", "l:server/W_nether>../home"});
            row(name, {layout, {"W", "W_nether"}, std::move(trash), {}, 0, {}, true});
        };
        apart("other file system", {}, own);
        apart("shared .Trash", {"d:server/.Trash", "m:server/.Trash=01777"},
              "server/.Trash/" + std::to_string(::geteuid()));
        apart(".Trash a link", {"d:server/s", "m:server/s=01777", "l:server/.Trash>s"}, own);
    }

    void movesToTheTrash() {
        QFETCH(TrashCase, c);
        if ((c.ownFileSystem || !c.foreign.empty()) && ::geteuid() != 0) {
            QSKIP("mounting a file system and giving a folder away need root");
        }
        QTemporaryDir dir;
        const fs::path scene = dir.path().toStdString();
        const fs::path server = scene / "server";
        fs::create_directories(server);
        QVERIFY(!c.ownFileSystem || ::mount("tmpfs", server.c_str(), "tmpfs", 0, "size=4m") == 0);
        const auto unmount = qScopeGuard([&] { ::umount2(server.c_str(), MNT_DETACH); });
        buildTree(scene, c.layout);
        for (const auto& item : fs::recursive_directory_iterator(scene)) {
            QVERIFY(c.user == 0 || ::lchown(item.path().c_str(), c.user, c.user) == 0);
        }
        QVERIFY(c.user == 0 || ::chown(scene.c_str(), c.user, c.user) == 0);
        QVERIFY(c.foreign.empty() || ::chown((scene / c.foreign).c_str(), desktopUser, 0) == 0);
        const fs::path trash = scene / (c.trash.empty() ? "home/.local/share/Trash" : c.trash);
        const Snapshot before = snapshotTree(scene);
        const auto files = [&] {
            const fs::path folder = trash / "files";
            return fs::is_directory(folder) ? snapshotTree(folder) : Snapshot{};
        };
        const Snapshot filesBefore = files();
        std::multiset<std::string> moved, came;
        for (const std::string& name : c.names) {
            moved.insert(snapshotTree(server / name)[""]);
        }

        // Every item moved, or, with no Trash to take them, the first refused saying why.
        QVERIFY(runAs(c.user, {}, [&] {
            ::alarm(5); // at once: a Trash that loops or crawls fails the row
            ::setenv("HOME", (scene / "home").c_str(), 1);
            const fs::path data =
                c.dataHome.empty() ? scene / "home/.local/share" : fs::path(c.dataHome);
            ::setenv("XDG_DATA_HOME", data.c_str(), 1);
            const int parent = ::open(server.c_str(), O_RDONLY | O_DIRECTORY);
            for (const std::string& name : c.names) {
                FileFailure failure;
                if (::chdir(scene.c_str()) != 0 ||
                    !moveToTrash(parent, server.string(), name, &failure)) {
                    return c.trash.empty() && !failure.path.empty();
                }
            }
            return !c.trash.empty();
        }));
        QVERIFY(!fs::exists(scene / "relative"));

        const QString listed = trashList(scene);
        if (c.trash.empty()) {
            QCOMPARE(snapshotTree(scene), before);
            QVERIFY2(!listed.contains(QString::fromStdString(scene)), qPrintable(listed));
            return;
        }
        // What was in the Trash is kept as it was; what came is what left.
        for (const auto& [name, item] : files()) { // the items directly in files/, new or changed
            if (name.find('/') == std::string::npos && !name.empty() &&
                (!filesBefore.contains(name) || filesBefore.at(name) != item)) {
                came.insert(item);
            }
        }
        QVERIFY(came == moved);
        for (const std::string& name : c.names) {
            QVERIFY(!fs::exists(fs::symlink_status(server / name)));
            const QString line = QString::fromStdString(" " + (server / name).string() + "\n");
            QVERIFY2(listed.contains(line), qPrintable(listed));
        }
    }

    // Put back from the Trash only where nothing took its name meanwhile; then as it was, and
    // without its record.
    void restoresWithoutReplacing() {
        QTemporaryDir dir;
        const fs::path scene = dir.path().toStdString();
        ::setenv("HOME", (scene / "home").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (scene / "home/.local/share").c_str(), 1);
        buildTree(scene, {"f:server/S 1%2F2/level.dat=l", "l:server/S 1%2F2/x>gone"});
        const Snapshot world = snapshotTree(scene / "server/S 1%2F2");
        const int parent = ::open((scene / "server").c_str(), O_RDONLY | O_DIRECTORY);
        const auto closer = qScopeGuard([&] { ::close(parent); });
        const auto trashed = moveToTrash(parent, (scene / "server").string(), "S 1%2F2");
        QVERIFY(trashed && fs::exists(trashed->record));
        fs::create_directory(scene / "server/S 1%2F2"); // an empty folder, which a rename replaces
        QVERIFY(!restoreFromTrash(*trashed, parent, "S 1%2F2"));
        QVERIFY(fs::is_empty(scene / "server/S 1%2F2"));
        fs::remove(scene / "server/S 1%2F2");
        QVERIFY(restoreFromTrash(*trashed, parent, "S 1%2F2"));
        QCOMPARE(snapshotTree(scene / "server/S 1%2F2"), world);
        QVERIFY(!fs::exists(trashed->record));
    }

    // Only what draws the icon reaches the decoder: the same image, from a few KiB at most; an
    // icon too large or not well formed is not decoded at all.
    void boundsTheIcon_data() {
        QTest::addColumn<QByteArray>("png");
        QTest::addColumn<QImage>("image"); // null when refused
        QImage plain(64, 64, QImage::Format_ARGB32);
        plain.fill(Qt::transparent);
        QPainter(&plain).fillRect(8, 8, 40, 24, QColor(30, 140, 60));
        const QByteArray clean = pngOf(plain);
        const QByteArray header = clean.left(33); // signature and IHDR
        const QByteArray zeros(1 << 20, '\0');
        const QByteArray text = "Comment" + QByteArray(2, '\0') + qCompress(zeros).mid(4);
        const QByteArray bomb = header + chunk("zTXt", text).repeated(200) + clean.mid(33);
        QVERIFY(bomb.size() < (1 << 20));
        QTest::newRow("200 compressed texts") << bomb << plain;
        const QImage indexed = plain.convertToFormat(QImage::Format_Indexed8);
        QTest::newRow("palette and transparency") << pngOf(indexed) << indexed;
        QImage wide(2048, 1, QImage::Format_RGB32);
        wide.fill(Qt::red);
        QTest::newRow("2048 wide") << pngOf(wide) << QImage();
        QByteArray corrupt = clean;
        corrupt[45] = static_cast<char>(corrupt[45] ^ 1);
        QTest::newRow("bad checksum") << corrupt << QImage();
        QTest::newRow("unknown critical chunk")
            << header + chunk("ABCD", "x") + clean.mid(33) << QImage();
        QByteArray deep = clean.mid(16, 13);
        deep[8] = 16; // bits per palette index: no such PNG
        deep[9] = 3;
        QTest::newRow("16-bit palette")
            << clean.left(8) + chunk("IHDR", deep) + clean.mid(33) << QImage();
    }

    void boundsTheIcon() {
        QFETCH(QByteArray, png);
        QFETCH(QImage, image);
        QTemporaryDir dir;
        writeFile(dir.filePath("icon.png").toStdString(), png.toStdString());
        PosixFileSystem files;
        const std::string icon = readWorldDetails(files, dir.path().toStdString()).icon;
        QVERIFY(icon.size() < 8192);
        QCOMPARE(icon.empty(), image.isNull());
        QCOMPARE(QImage::fromData(bytes(icon)).convertToFormat(QImage::Format_ARGB32),
                 image.convertToFormat(QImage::Format_ARGB32));
    }
};

QTEST_GUILESS_MAIN(EdgesTest)
#include "EdgesTest.moc"
