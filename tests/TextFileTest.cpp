#include "platform/PosixFileSystem.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
using namespace std::string_view_literals;
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

namespace {

// Lowers the largest file this process may write until it goes out of scope. The kernel enforces
// it for root too, so it stands in for a disk that fills up part-way through a write.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

} // namespace

class TextFileTest : public QObject {
    Q_OBJECT

private slots:
    void readsValidUtf8Exactly_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("readable");
        QTest::newRow("every byte kept") << bytes("\xef\xbb\xbf\0a=1\r\nb=Größe 世界"sv) << true;
        QTest::newRow("larger than one read") << QByteArray(200'000, 'x') << true;
        QTest::newRow("Latin-1") << QByteArray("motd=Gr\xf6\xdf!") << false;
    }

    void readsValidUtf8Exactly() {
        QFETCH(QByteArray, contents);
        QFETCH(bool, readable);
        QTemporaryDir dir;
        const fs::path file = dir.filePath(QStringLiteral("server.properties")).toStdString();
        writeFile(file, contents.toStdString());

        const auto read = PosixFileSystem().readTextFile(file);
        QCOMPARE(read.has_value(), readable);
        QCOMPARE(bytes(read.value_or("")), readable ? contents : QByteArray());
    }

    void readsOnlyRegularFiles() {
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        writeFile(root / "real", "a=1\n");
        fs::create_directory(root / "folder");
        QCOMPARE(::mkfifo((root / "fifo").c_str(), 0600), 0); // would block a plain open

        PosixFileSystem files;
        QVERIFY(!files.readTextFile(root / "folder"));
        QVERIFY(!files.readTextFile(root / "fifo"));
        // A NUL ends the path the kernel sees: reading "real" instead would read another file.
        QVERIFY(!files.readTextFile((root / "real").string() + std::string(1, '\0') + "x"));
    }

    void writesNewAndReplacedFiles_data() {
        QTest::addColumn<std::optional<std::string>>("before");
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("new file") << std::optional<std::string>() << QByteArray("a=1\n");
        QTest::newRow("longer replaced by shorter, every byte kept")
            << std::optional<std::string>(std::string(5000, 'o')) << bytes("\0Größe\r\n"sv);
    }

    void writesNewAndReplacedFiles() {
        QFETCH(std::optional<std::string>, before);
        QFETCH(QByteArray, contents);
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        if (before) {
            writeFile(root / "file", *before);
        }
        QVERIFY(PosixFileSystem().writeFileAtomically(root / "file", contents.toStdString()));
        QCOMPARE(bytes(readFile(root / "file")), contents);
        QCOMPARE(entries(root), Names{"file"}); // no temporary file left behind
    }

    // Paths that would name some other file, or replace a folder, are refused untouched.
    void refusedWritesTouchNothing() {
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        writeFile(root / "folder/inside", "kept");

        PosixFileSystem files;
        QVERIFY(!files.writeFileAtomically(root / "folder", "new"));
        QVERIFY(!files.writeFileAtomically(root / "bad\xff", "new"));
        QVERIFY(!files.writeFileAtomically((root / "file").string() + std::string(1, '\0'), "x"));
        QCOMPARE(entries(root), Names{"folder"});
        QCOMPARE(entries(root / "folder"), Names{"inside"});
        QCOMPARE(readFile(root / "folder/inside"), std::string("kept"));
    }

    void diskFullMidWriteLeavesTheOldFileWhole() {
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        const std::string old = "level-name=old\n";
        writeFile(root / "file", old);

        bool written = true;
        {
            FileSizeLimit limit(4096);
            written = PosixFileSystem().writeFileAtomically(root / "file", std::string(65536, 'x'));
        }
        QVERIFY(!written);
        QCOMPARE(readFile(root / "file"), old);
        QCOMPARE(entries(root), Names{"file"});
    }
};

QTEST_APPLESS_MAIN(TextFileTest)
#include "TextFileTest.moc"
