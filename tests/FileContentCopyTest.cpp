#include "platform/FileContentCopy.h"

#include "platform/LocalServerFolder.h"
#include "platform/LocalWorldSource.h"
#include "support/TestSupport.h"
#include "worlds/StagedCopy.h"

#include <QTest>
#include <QtCore>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/mount.h>
#include <unistd.h>

using namespace Plovermantle;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t MiB = std::size_t{1} << 20;

// How a stand-in for the kernel's copy misbehaves once; it copies 1 MiB on every other call.
// Sound: the real one.
enum class Kernel { Sound, RefusesAtOnce, FailsMidFile, EndsEarly, Overclaims, SourceShrinks };

// Mounts a file system on `dir`; answers why it cannot, or an empty string once mounted.
QString mountOn(const fs::path& dir, QStringList arguments) {
    fs::create_directories(dir);
    if (QProcess::execute("mount", arguments << QString::fromStdString(dir.string())) != 0) {
        return "cannot mount (is this root?): mount " + arguments.join(' ');
    }
    return {};
}

} // namespace

Q_DECLARE_METATYPE(Plovermantle::ContentCopyWay)
Q_DECLARE_METATYPE(Kernel)
Q_DECLARE_METATYPE(Plovermantle::PlaceResult)

class FileContentCopyTest : public QObject {
    Q_OBJECT

    QTemporaryDir scratch_;
    fs::path xfs_;  // a file system with reflinks, when one could be mounted
    QString noXfs_; // else why not
    fs::path base_; // each test's own folder, on that XFS if there is one

private slots:
    void initTestCase() {
        xfs_ = fs::path(scratch_.path().toStdString()) / "xfs";
        const QString image = scratch_.filePath("xfs.img");
        const QString mkfs = QStandardPaths::findExecutable("mkfs.xfs", {"/usr/sbin", "/sbin"});
        Testing::writeFile(image.toStdString(), {});
        fs::resize_file(image.toStdString(), 512 * MiB); // sparse; about the smallest XFS there is
        if (mkfs.isEmpty() || QProcess::execute(mkfs, {"-q", "-m", "reflink=1", image}) != 0) {
            noXfs_ = "cannot make an XFS with reflinks: is mkfs.xfs (xfsprogs) installed?";
        } else {
            noXfs_ = mountOn(xfs_, {"-o", "loop", image});
        }
    }
    void cleanupTestCase() { ::umount2(xfs_.c_str(), MNT_DETACH); }
    void init() { fs::create_directories(base_ = xfs_ / "test"); }
    void cleanup() { fs::remove_all(base_); }

    // Whole and byte for byte each way; else, stopped by Cancel at the first report, by a full
    // disk or by a failing kernel copy, a true start of the file and the reason.
    void copiesByteForByteOrStops_data() {
        QTest::addColumn<ContentCopyWay>("way");
        QTest::addColumn<qulonglong>("size");
        QTest::addColumn<int>("error"); // ECANCELED: Cancel is pressed; ENOSPC: on a small tmpfs
        QTest::addColumn<Kernel>("kernel");
        const auto row = [](const char* name, ContentCopyWay way, std::size_t size, int error,
                            Kernel kernel = Kernel::Sound) {
            QTest::newRow(name) << way << qulonglong{size} << error << kernel;
        };
        using enum ContentCopyWay;
        row("clone", Clone, 3 * MiB + 3, 0);
        row("in-kernel, empty", CopyRange, 0, 0);
        row("in-kernel, 20 MiB", CopyRange, 20 * MiB + 123, 0); // ends mid-page
        row("read/write, 3 MiB", ReadWrite, 3 * MiB + 1, 0);
        row("cancel, in-kernel", CopyRange, 10 * MiB, ECANCELED);
        row("cancel, read/write", ReadWrite, 10 * MiB, ECANCELED);
        row("disk full, in-kernel", CopyRange, 3 * MiB, ENOSPC);
        row("disk full, read/write", ReadWrite, 3 * MiB, ENOSPC);
        // Nothing has moved yet: the read/write loop takes over from the same offsets.
        row("kernel refuses at once", CopyRange, 5 * MiB + 9, 0, Kernel::RefusesAtOnce);
        // Once bytes have moved, a failure is the file's, not the method's: no second try.
        row("kernel fails mid-file", CopyRange, 5 * MiB + 9, EIO, Kernel::FailsMidFile);
        // Some file systems answer "end of file" early: reading finds the rest.
        row("kernel ends early", CopyRange, 5 * MiB + 9, 0, Kernel::EndsEarly);
        // A short copy never passes for a whole one.
        row("kernel claims bytes it never wrote", CopyRange, 5 * MiB + 9, EIO, Kernel::Overclaims);
        row("source cut short meanwhile", CopyRange, 5 * MiB + 9, EIO, Kernel::SourceShrinks);
    }

    void copiesByteForByteOrStops() {
        QFETCH(ContentCopyWay, way);
        QFETCH(qulonglong, size);
        QFETCH(int, error);
        QFETCH(Kernel, kernel);
        if (way == ContentCopyWay::Clone && !noXfs_.isEmpty()) {
            QSKIP(qPrintable(noXfs_));
        }
        const auto unmount = qScopeGuard([&] { ::umount2(base_.c_str(), MNT_DETACH); });
        const QStringList tmpfs{"-t", "tmpfs", "-o", "size=4m", "tmpfs"};
        if (const QString why = error == ENOSPC ? mountOn(base_, tmpfs) : QString();
            !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        std::string bytes(size, '\0');
        std::generate(bytes.begin(), bytes.end(), std::mt19937(static_cast<unsigned>(size)));
        Testing::writeFile(base_ / "in", bytes);
        ContentCopyOptions options;
        options.allowClone = way == ContentCopyWay::Clone;
        options.allowCopyRange = way != ContentCopyWay::ReadWrite;
        ContentCopyWay used = ContentCopyWay::None;
        options.wayUsed = &used;
        if (kernel != Kernel::Sound) {
            options.copyRange = [&, calls = 0](int in, int out, std::size_t) mutable -> ssize_t {
                if (++calls != (kernel == Kernel::RefusesAtOnce ? 1 : 2)) {
                    return ::copy_file_range(in, nullptr, out, nullptr, MiB, 0);
                }
                errno = kernel == Kernel::RefusesAtOnce ? EXDEV : EIO;
                if (kernel == Kernel::Overclaims) {
                    return ::lseek(in, static_cast<off_t>(MiB), SEEK_CUR) < 0 ? -1 : ssize_t{MiB};
                }
                if (kernel == Kernel::SourceShrinks) {
                    fs::resize_file(base_ / "in", MiB / 2);
                }
                return kernel == Kernel::EndsEarly || kernel == Kernel::SourceShrinks ? 0 : -1;
            };
        }
        const int in = ::open((base_ / "in").c_str(), O_RDONLY | O_CLOEXEC);
        const int out = ::open((base_ / "out").c_str(), O_WRONLY | O_CLOEXEC | O_CREAT, 0644);
        std::uint64_t reported = 0;
        errno = 0;
        const bool whole = copyFileContents(
            in, out,
            [&](std::uint64_t n) {
                reported += n;
                return error != ECANCELED;
            },
            options);
        QCOMPARE(whole ? 0 : errno, error);
        ::close(in);
        ::close(out);
        const std::string copied = Testing::readFile(base_ / "out");
        if (error == 0) {
            QCOMPARE(used, kernel == Kernel::RefusesAtOnce ? ContentCopyWay::ReadWrite : way);
            QVERIFY(copied == bytes);
            QCOMPARE(reported, size);
        } else if (kernel == Kernel::Sound) { // a lying kernel's copy is garbage, reported so
            QVERIFY(!copied.empty() && copied.size() < bytes.size());
            QVERIFY(bytes.starts_with(copied));
        }
    }

    // Where blocks are shared, files are cloned on a second thread: the world still arrives
    // exact, and the game saving into it as it is copied still stops the copy.
    void clonesAWorld_data() {
        QTest::addColumn<bool>("saveMidCopy");
        QTest::addColumn<PlaceResult>("result");
        QTest::newRow("whole") << false << PlaceResult::Placed;
        QTest::newRow("saved into meanwhile") << true << PlaceResult::SourceChanged;
    }

    void clonesAWorld() {
        QFETCH(bool, saveMidCopy);
        QFETCH(PlaceResult, result);
        if (!noXfs_.isEmpty()) {
            QSKIP(qPrintable(noXfs_));
        }
        Testing::Layout world = Testing::sampleWorld;
        for (std::size_t i = 0; i < 300; ++i) {
            world.push_back("f:many/" + std::to_string(i) + "=" + std::string(i * 37, 'x'));
        }
        world.push_back("m:many/7=0600");
        Testing::buildTree(base_ / "World", world);
        fs::create_directories(base_ / "server");
        const auto folder = LocalServerFolder::open((base_ / "server").string());
        const auto source = LocalWorldSource::open((base_ / "World").string());
        QVERIFY(folder && source);
        bool saved = false;
        std::uint64_t bytesSeen = 0;
        const auto placed =
            placeCopy(*folder, *source, "World", false, {}, [&](const WorkProgress& progress) {
                // Halfway, as a file's own bytes are reported: every file of many/ grows, that one
                // among them.
                const bool bytesReported = progress.bytesDone != bytesSeen;
                bytesSeen = progress.bytesDone;
                if (saveMidCopy && !saved && progress.filesDone >= 150 && bytesReported) {
                    saved = true;
                    for (const auto& entry : fs::directory_iterator(base_ / "World/many")) {
                        std::ofstream(entry.path(), std::ios::app) << "saved";
                    }
                }
                return true;
            });
        QCOMPARE(placed.result, result);
        if (result == PlaceResult::Placed) {
            QCOMPARE(Testing::snapshotTree(base_ / "server/World"),
                     Testing::snapshotTree(base_ / "World"));
        } else {
            QCOMPARE(Testing::entries(base_ / "server"), std::vector<std::string>{});
        }
    }
};

QTEST_GUILESS_MAIN(FileContentCopyTest)
#include "FileContentCopyTest.moc"
