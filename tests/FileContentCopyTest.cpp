#include "platform/FileContentCopy.h"

#include "support/TestSupport.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <random>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace Plovermantle;
namespace fs = std::filesystem;

Q_DECLARE_METATYPE(Plovermantle::ContentCopyWay)

namespace {

constexpr std::size_t MiB = std::size_t{1} << 20;

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937_64 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator() & 0xff);
    }
    return bytes;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }

private:
    int fd_;
};

Fd openSource(const fs::path& path) {
    return Fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
}
Fd createTarget(const fs::path& path) {
    return Fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
}

// What one copy did, as its caller sees it.
struct Run {
    bool ok = false;
    int error = 0;
    ContentCopyWay way = ContentCopyWay::None;
    std::uint64_t reported = 0;
    std::uint64_t largestStep = 0;
    int calls = 0;
};

Run copy(int in, int out, ContentCopyOptions options = {},
         const std::function<bool(std::uint64_t)>& onStep = {}) {
    Run run;
    options.wayUsed = &run.way;
    errno = 0;
    run.ok = copyFileContents(
        in, out,
        [&](std::uint64_t bytes) {
            run.reported += bytes;
            run.largestStep = std::max(run.largestStep, bytes);
            ++run.calls;
            return onStep ? onStep(bytes) : true;
        },
        options);
    run.error = run.ok ? 0 : errno;
    return run;
}

Run copyFile(const fs::path& from, const fs::path& to, const ContentCopyOptions& options = {},
             const std::function<bool(std::uint64_t)>& onStep = {}) {
    const Fd in = openSource(from);
    const Fd out = createTarget(to);
    if (in.get() < 0 || out.get() < 0) {
        return {};
    }
    return copy(in.get(), out.get(), options, onStep);
}

ContentCopyOptions only(ContentCopyWay way) {
    ContentCopyOptions options;
    options.allowClone = way == ContentCopyWay::Clone;
    options.allowCopyRange = way == ContentCopyWay::Clone || way == ContentCopyWay::CopyRange;
    return options;
}

bool sharesBlocks(const fs::path& path) {
    const Fd fd = openSource(path);
    std::vector<std::uint64_t> storage((sizeof(fiemap) + sizeof(fiemap_extent)) / 8 + 1);
    auto* map = reinterpret_cast<fiemap*>(storage.data());
    map->fm_length = FIEMAP_MAX_OFFSET;
    map->fm_flags = FIEMAP_FLAG_SYNC;
    map->fm_extent_count = 1;
    return ::ioctl(fd.get(), FS_IOC_FIEMAP, map) == 0 && map->fm_mapped_extents >= 1 &&
           (map->fm_extents[0].fe_flags & FIEMAP_EXTENT_SHARED) != 0;
}

// A file system mounted for one test, unmounted when it goes. Mounting needs root.
class ScratchMount {
public:
    ScratchMount() = default;
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;
    ~ScratchMount() {
        if (mounted_ && ::umount2(dir_.c_str(), 0) != 0) {
            ::umount2(dir_.c_str(), MNT_DETACH);
        }
    }

    // Each answers why it could not mount, or an empty string once mounted.
    QString tmpfs(const fs::path& dir, std::size_t bytes) {
        if (::geteuid() != 0) {
            return QStringLiteral("mounting a tmpfs needs root");
        }
        fs::create_directories(dir);
        const std::string options = "size=" + std::to_string(bytes);
        if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            return QStringLiteral("cannot mount a tmpfs: %1").arg(std::strerror(errno));
        }
        dir_ = dir;
        mounted_ = true;
        return {};
    }

    QString reflinkXfs(const fs::path& image, const fs::path& dir) {
        if (::geteuid() != 0) {
            return QStringLiteral("mounting an XFS image needs root");
        }
        QString mkfs = QStandardPaths::findExecutable(QStringLiteral("mkfs.xfs"));
        if (mkfs.isEmpty()) {
            mkfs = QStandardPaths::findExecutable(QStringLiteral("mkfs.xfs"),
                                                  {QStringLiteral("/usr/sbin"), "/sbin"});
        }
        if (mkfs.isEmpty()) {
            return QStringLiteral("mkfs.xfs is not installed (Debian package xfsprogs)");
        }
        fs::create_directories(dir);
        const QString imagePath = QString::fromStdString(image.string());
        { const Fd file(::open(image.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)); }
        fs::resize_file(image, 512 * MiB);
        if (QProcess::execute(mkfs, {"-q", "-m", "reflink=1", imagePath}) != 0) {
            return QStringLiteral("mkfs.xfs could not make a file system with reflinks");
        }
        if (QProcess::execute(QStringLiteral("mount"),
                              {"-o", "loop", imagePath, QString::fromStdString(dir.string())}) !=
            0) {
            return QStringLiteral("cannot loop-mount an XFS image here");
        }
        dir_ = dir;
        mounted_ = true;
        return {};
    }

private:
    fs::path dir_;
    bool mounted_ = false;
};

} // namespace

class FileContentCopyTest : public QObject {
    Q_OBJECT

private slots:
    void copiesByteForByte_data() {
        QTest::addColumn<ContentCopyWay>("way");
        QTest::addColumn<qulonglong>("size");
        QTest::addColumn<qulonglong>("skip");

        const std::pair<const char*, std::size_t> sizes[] = {
            {"empty", 0},
            {"one byte", 1},
            {"a page less one", 4095},
            {"just over a buffer", MiB + 1},
            // Several copy calls and writeback windows, ending mid-page.
            {"20 MiB and change", 20 * MiB + 123}};
        const std::pair<const char*, ContentCopyWay> ways[] = {
            {"in-kernel", ContentCopyWay::CopyRange}, {"read/write", ContentCopyWay::ReadWrite}};
        for (const auto& [wayName, way] : ways) {
            for (const auto& [sizeName, size] : sizes) {
                QTest::addRow("%s, %s", wayName, sizeName) << way << qulonglong{size} << 0ULL;
            }
            // The source is copied from where its offset stands.
            QTest::addRow("%s, from an offset", wayName) << way << qulonglong{3 * MiB} << 1000ULL;
        }
    }

    void copiesByteForByte() {
        QFETCH(ContentCopyWay, way);
        QFETCH(qulonglong, size);
        QFETCH(qulonglong, skip);
        QTemporaryDir dir;
        const fs::path base = dir.path().toStdString();
        const std::string bytes = randomBytes(size, 7);
        Testing::writeFile(base / "in", bytes);

        const Fd in = openSource(base / "in");
        QCOMPARE(::lseek(in.get(), static_cast<off_t>(skip), SEEK_SET), static_cast<off_t>(skip));
        Run run;
        {
            const Fd out = createTarget(base / "out");
            run = copy(in.get(), out.get(), only(way));
        }
        QVERIFY2(run.ok, std::strerror(run.error));
        QCOMPARE(run.way, way);
        QVERIFY(Testing::readFile(base / "out") == bytes.substr(skip));
        QCOMPARE(run.reported, size - skip);
        // Progress comes often enough for a Cancel button to answer quickly.
        QVERIFY(run.largestStep <= 8 * MiB);
    }

    void fallsBackWhileNothingIsCopied_data() {
        QTest::addColumn<int>("refusal");
        QTest::newRow("other file system") << EXDEV;
        QTest::newRow("old kernel") << ENOSYS;
        QTest::newRow("not supported") << EOPNOTSUPP;
        QTest::newRow("not regular files") << EINVAL;
    }

    void fallsBackWhileNothingIsCopied() {
        QFETCH(int, refusal);
        QTemporaryDir dir;
        const fs::path base = dir.path().toStdString();
        const std::string bytes = randomBytes(3 * MiB + 5, 1);
        Testing::writeFile(base / "in", bytes);
        ContentCopyOptions options = only(ContentCopyWay::CopyRange);
        options.copyRange = [&](int, int, std::size_t) -> ssize_t {
            errno = refusal;
            return -1;
        };

        const Run run = copyFile(base / "in", base / "out", options);
        QVERIFY2(run.ok, std::strerror(run.error));
        QCOMPARE(run.way, ContentCopyWay::ReadWrite);
        QVERIFY(Testing::readFile(base / "out") == bytes);
        QCOMPARE(run.reported, qulonglong{bytes.size()});
    }

    void copiesFromAPipe() {
        // The kernel copy refuses pipes without copying a byte; the loop takes over.
        QTemporaryDir dir;
        const fs::path out = fs::path(dir.path().toStdString()) / "out";
        const std::string bytes = randomBytes(2 * MiB + 17, 2);
        int ends[2];
        QCOMPARE(::pipe(ends), 0);
        const Fd reader(ends[0]);
        std::thread writer([&] {
            std::size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t put = ::write(ends[1], bytes.data() + done, bytes.size() - done);
                if (put <= 0) {
                    break;
                }
                done += static_cast<std::size_t>(put);
            }
            ::close(ends[1]);
        });
        Run run;
        {
            const Fd target = createTarget(out);
            run = copy(reader.get(), target.get());
        }
        writer.join();
        QVERIFY2(run.ok, std::strerror(run.error));
        QCOMPARE(run.way, ContentCopyWay::ReadWrite);
        QVERIFY(Testing::readFile(out) == bytes);
    }

    void kernelCopyFailingMidFileFails() {
        // Once bytes have moved, a failure is the file's, not the method's: no second try.
        QTemporaryDir dir;
        const fs::path base = dir.path().toStdString();
        const std::string bytes = randomBytes(10 * MiB, 3);
        Testing::writeFile(base / "in", bytes);
        int calls = 0;
        ContentCopyOptions options = only(ContentCopyWay::CopyRange);
        options.copyRange = [&](int in, int out, std::size_t) -> ssize_t {
            if (++calls > 1) {
                errno = EIO;
                return -1;
            }
            return ::copy_file_range(in, nullptr, out, nullptr, MiB, 0);
        };

        const Run run = copyFile(base / "in", base / "out", options);
        QVERIFY(!run.ok);
        QCOMPARE(run.error, EIO);
        QCOMPARE(run.way, ContentCopyWay::None);
        QCOMPARE(fs::file_size(base / "out"), std::uintmax_t{MiB});
    }

    void kernelCopyStoppingShort_data() {
        QTest::addColumn<bool>("lies");
        QTest::addColumn<bool>("ok");
        // Some file systems answer "end of file" early: reading finds the rest.
        QTest::newRow("stops early") << false << true;
        // One that claims bytes it never wrote must not pass for a whole copy.
        QTest::newRow("claims bytes it never wrote") << true << false;
    }

    void kernelCopyStoppingShort() {
        QFETCH(bool, lies);
        QFETCH(bool, ok);
        QTemporaryDir dir;
        const fs::path base = dir.path().toStdString();
        const std::string bytes = randomBytes(5 * MiB + 9, 4);
        Testing::writeFile(base / "in", bytes);
        int calls = 0;
        ContentCopyOptions options = only(ContentCopyWay::CopyRange);
        options.copyRange = [&](int in, int out, std::size_t length) -> ssize_t {
            ++calls;
            if (lies && calls == 2) {
                return ::lseek(in, static_cast<off_t>(MiB), SEEK_CUR) < 0 ? -1 : ssize_t{MiB};
            }
            if (!lies && calls > 1) {
                return 0;
            }
            return ::copy_file_range(in, nullptr, out, nullptr, std::min(length, MiB), 0);
        };

        const Run run = copyFile(base / "in", base / "out", options);
        QCOMPARE(run.ok, ok);
        if (ok) {
            QCOMPARE(run.way, ContentCopyWay::CopyRange);
            QVERIFY(Testing::readFile(base / "out") == bytes);
        } else {
            QCOMPARE(run.error, EIO);
        }
    }

    void sourceChangingDuringTheCopy_data() {
        QTest::addColumn<ContentCopyWay>("way");
        QTest::addColumn<qlonglong>("newSize");
        QTest::addColumn<bool>("ok");
        for (const auto& [name, way] : {std::pair{"in-kernel", ContentCopyWay::CopyRange},
                                        std::pair{"read/write", ContentCopyWay::ReadWrite}}) {
            // Cut below what was already copied: what we hold is no version of the file.
            QTest::addRow("%s, truncated", name) << way << qlonglong{MiB / 2} << false;
            // Grown: copied to its new end, which is what the file now is.
            QTest::addRow("%s, grown", name) << way << qlonglong{30 * MiB} << true;
        }
    }

    void sourceChangingDuringTheCopy() {
        QFETCH(ContentCopyWay, way);
        QFETCH(qlonglong, newSize);
        QFETCH(bool, ok);
        QTemporaryDir dir;
        const fs::path base = dir.path().toStdString();
        Testing::writeFile(base / "in", randomBytes(20 * MiB, 5));
        bool changed = false;
        const Run run = copyFile(base / "in", base / "out", only(way), [&](std::uint64_t) {
            if (!changed) {
                fs::resize_file(base / "in", static_cast<std::uintmax_t>(newSize));
                changed = true;
            }
            return true;
        });
        QCOMPARE(run.ok, ok);
        if (ok) {
            QVERIFY(Testing::readFile(base / "out") == Testing::readFile(base / "in"));
        } else {
            QCOMPARE(run.error, EIO);
        }
    }

    void cancelStopsMidFile_data() {
        QTest::addColumn<ContentCopyWay>("way");
        QTest::newRow("in-kernel") << ContentCopyWay::CopyRange;
        QTest::newRow("read/write") << ContentCopyWay::ReadWrite;
    }

    void cancelStopsMidFile() {
        QFETCH(ContentCopyWay, way);
        QTemporaryDir dir;
        const fs::path base = dir.path().toStdString();
        const std::string bytes = randomBytes(24 * MiB, 6);
        Testing::writeFile(base / "in", bytes);

        const Run run =
            copyFile(base / "in", base / "out", only(way), [](std::uint64_t) { return false; });
        QVERIFY(!run.ok);
        QCOMPARE(run.error, ECANCELED);
        QCOMPARE(run.calls, 1);
        const std::string copied = Testing::readFile(base / "out");
        QVERIFY(copied.size() < bytes.size());
        QVERIFY(bytes.starts_with(copied));
    }

    void refusesToCopyAFileOntoItself() {
        QTemporaryDir dir;
        const fs::path file = fs::path(dir.path().toStdString()) / "world.dat";
        const std::string bytes = randomBytes(MiB, 8);
        Testing::writeFile(file, bytes);
        const Fd in = openSource(file);
        const Fd out(::open(file.c_str(), O_WRONLY | O_APPEND));
        // Stops a copy that would grow the file without end, should one start.
        const Run run =
            copy(in.get(), out.get(), {}, [&, seen = std::uint64_t{0}](std::uint64_t step) mutable {
                return (seen += step) <= bytes.size();
            });
        QVERIFY(!run.ok);
        QCOMPARE(run.error, EINVAL);
        QVERIFY(Testing::readFile(file) == bytes);
    }

    void clonesWhereTheFileSystemShares() {
        QTemporaryDir dir;
        const fs::path base = dir.path().toStdString();
        ScratchMount xfs;
        if (const QString why = xfs.reflinkXfs(base / "xfs.img", base / "xfs"); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        const fs::path disk = base / "xfs";
        const std::string bytes = randomBytes(20 * MiB + 3, 9);
        Testing::writeFile(disk / "in", bytes);

        Run run = copyFile(disk / "in", disk / "clone");
        QVERIFY2(run.ok, std::strerror(run.error));
        QCOMPARE(run.way, ContentCopyWay::Clone);
        QCOMPARE(run.reported, qulonglong{bytes.size()});
        QVERIFY(sharesBlocks(disk / "clone"));
        QVERIFY(Testing::readFile(disk / "clone") == bytes);

        // The clone is done before anyone can cancel; Cancel is still told apart from success.
        run = copyFile(disk / "in", disk / "cancelled", {}, [](std::uint64_t) { return false; });
        QVERIFY(!run.ok);
        QCOMPARE(run.error, ECANCELED);

        // A file cannot be cloned onto itself, nor copied onto itself another way.
        {
            const Fd in = openSource(disk / "in");
            const Fd out(::open((disk / "in").c_str(), O_WRONLY));
            run = copy(in.get(), out.get());
            QVERIFY(!run.ok);
            QCOMPARE(run.error, EINVAL);
            QVERIFY(Testing::readFile(disk / "in") == bytes);
        }

        // Without cloning, the other ways still copy on this file system.
        for (const ContentCopyWay way : {ContentCopyWay::CopyRange, ContentCopyWay::ReadWrite}) {
            run = copyFile(disk / "in", disk / "plain", only(way));
            QVERIFY2(run.ok, std::strerror(run.error));
            QCOMPARE(run.way, way);
            QVERIFY(Testing::readFile(disk / "plain") == bytes);
        }
    }

    void diskFullMidFile_data() {
        QTest::addColumn<bool>("fromOtherDisk");
        QTest::addColumn<ContentCopyWay>("way");
        QTest::newRow("in-kernel") << false << ContentCopyWay::CopyRange;
        QTest::newRow("read/write") << false << ContentCopyWay::ReadWrite;
        QTest::newRow("from another file system") << true << ContentCopyWay::Clone;
    }

    void diskFullMidFile() {
        QFETCH(bool, fromOtherDisk);
        QFETCH(ContentCopyWay, way);
        QTemporaryDir dir;
        const fs::path base = dir.path().toStdString();
        ScratchMount tmpfs;
        if (const QString why = tmpfs.tmpfs(base / "small", 4 * MiB); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        const std::string bytes = randomBytes(fromOtherDisk ? 6 * MiB : 3 * MiB, 11);
        const fs::path source = fromOtherDisk ? base / "in" : base / "small" / "in";
        Testing::writeFile(source, bytes);

        const Run run = copyFile(source, base / "small" / "out", only(way));
        QVERIFY(!run.ok);
        QCOMPARE(run.error, ENOSPC);
        const std::string copied = Testing::readFile(base / "small" / "out");
        QVERIFY(!copied.empty());
        QVERIFY(bytes.starts_with(copied));
    }
};

QTEST_GUILESS_MAIN(FileContentCopyTest)
#include "FileContentCopyTest.moc"
