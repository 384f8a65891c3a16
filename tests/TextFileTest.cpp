#include "platform/PosixFileSystem.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace Plovermantle;
using namespace std::string_view_literals;
namespace fs = std::filesystem;

Q_DECLARE_METATYPE(fs::perms)

namespace {

QByteArray bytes(std::string_view text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

using Names = std::vector<std::string>;

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
        QTest::newRow("empty") << QByteArray() << true;
        QTest::newRow("CRLF, no final LF, non-ASCII")
            << QByteArray("a=1\r\nb=Größe 世界 🌍") << true;
        QTest::newRow("byte order mark and NUL kept") << bytes("\xef\xbb\xbf\0a=1\n"sv) << true;
        QTest::newRow("larger than one read") << QByteArray(200'000, 'x') << true;
        QTest::newRow("Latin-1") << QByteArray("motd=Gr\xf6\xdf!") << false;
        QTest::newRow("truncated at the end") << QByteArray("a=\xe4\xb8") << false;
        QTest::newRow("overlong slash") << QByteArray("a=\xc0\xaf") << false;
        QTest::newRow("surrogate") << QByteArray("a=\xed\xa0\x80") << false;
    }

    void readsValidUtf8Exactly() {
        QFETCH(QByteArray, contents);
        QFETCH(bool, readable);
        QTemporaryDir dir;
        const fs::path file = dir.filePath(QStringLiteral("server.properties")).toStdString();
        Testing::writeFile(file, contents.toStdString());

        const auto read = PosixFileSystem().readTextFile(file);
        QCOMPARE(read.has_value(), readable);
        if (readable) {
            QCOMPARE(bytes(*read), contents);
        }
    }

    void readsOnlyRegularFiles() {
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        Testing::writeFile(root / "real", "a=1\n");
        fs::create_symlink("real", root / "link");
        fs::create_symlink("nowhere", root / "dangling");
        fs::create_directory(root / "folder");
        QCOMPARE(::mkfifo((root / "fifo").c_str(), 0600), 0);

        PosixFileSystem files;
        QCOMPARE(files.readTextFile(root / "link"), std::optional<std::string>("a=1\n"));
        for (const char* name : {"missing", "dangling", "folder", "fifo"}) {
            QVERIFY2(!files.readTextFile(root / name).has_value(), name);
        }
        // A NUL ends the path the kernel sees; reading "real" instead would be reading another
        // file.
        QVERIFY(!files.readTextFile((root / "real").string() + std::string(1, '\0') + "x"));
    }

    void writesNewAndReplacedFiles_data() {
        QTest::addColumn<std::optional<std::string>>("before");
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("new file") << std::optional<std::string>() << QByteArray("a=1\n");
        QTest::newRow("longer replaced by shorter")
            << std::optional<std::string>(std::string(5000, 'o')) << QByteArray("new\n");
        QTest::newRow("replaced by empty") << std::optional<std::string>("old\n") << QByteArray();
        QTest::newRow("bytes kept")
            << std::optional<std::string>("old") << bytes("\xef\xbb\xbf\0Größe\r\n"sv);
    }

    void writesNewAndReplacedFiles() {
        QFETCH(std::optional<std::string>, before);
        QFETCH(QByteArray, contents);
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        if (before) {
            Testing::writeFile(root / "file", *before);
        }
        QVERIFY(PosixFileSystem().writeFileAtomically(root / "file", contents.toStdString()));
        QCOMPARE(bytes(Testing::readFile(root / "file")), contents);
        QCOMPARE(entries(root), Names{"file"}); // no temporary file left behind
    }

    void keepsPermissionBits_data() {
        QTest::addColumn<fs::perms>("mode");
        using enum fs::perms;
        QTest::newRow("owner only") << (owner_read | owner_write);
        QTest::newRow("world readable, executable")
            << (owner_all | group_read | group_exec | others_read | others_exec);
    }

    void keepsPermissionBits() {
        QFETCH(fs::perms, mode);
        QTemporaryDir dir;
        const fs::path file = dir.filePath(QStringLiteral("file")).toStdString();
        Testing::writeFile(file, "old\n");
        fs::permissions(file, mode);

        QVERIFY(PosixFileSystem().writeFileAtomically(file, "new\n"));
        QCOMPARE(Testing::readFile(file), std::string("new\n"));
        QCOMPARE(fs::status(file).permissions(), mode);
    }

    void writesThroughSymbolicLinks() {
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        Testing::writeFile(root / "elsewhere/real", "old\n");
        fs::create_directory(root / "server");
        fs::create_symlink("../elsewhere/real", root / "server/relative");
        fs::create_symlink(root / "server/relative", root / "server/chain");

        PosixFileSystem files;
        QVERIFY(files.writeFileAtomically(root / "server/relative", "first\n"));
        QCOMPARE(Testing::readFile(root / "elsewhere/real"), std::string("first\n"));
        QVERIFY(files.writeFileAtomically(root / "server/chain", "second\n"));
        QCOMPARE(Testing::readFile(root / "elsewhere/real"), std::string("second\n"));

        QCOMPARE(fs::read_symlink(root / "server/relative"), fs::path("../elsewhere/real"));
        QCOMPARE(fs::read_symlink(root / "server/chain"), root / "server/relative");
        QCOMPARE(entries(root / "server"), (Names{"chain", "relative"}));
        QCOMPARE(entries(root / "elsewhere"), Names{"real"});
    }

    void refusedWritesTouchNothing() {
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        Testing::writeFile(root / "folder/inside", "kept");

        PosixFileSystem files;
        QVERIFY(!files.writeFileAtomically(root / "folder", "new"));
        QVERIFY(!files.writeFileAtomically(root / "missing/file", "new"));
        QVERIFY(!files.writeFileAtomically(root / "bad\xff", "new"));
        QVERIFY(!files.writeFileAtomically((root / "file").string() + std::string(1, '\0'), "x"));
        QVERIFY(!files.writeFileAtomically("", "new"));

        QCOMPARE(entries(root), Names{"folder"});
        QCOMPARE(entries(root / "folder"), Names{"inside"});
        QCOMPARE(Testing::readFile(root / "folder/inside"), std::string("kept"));
    }

    void diskFullMidWriteLeavesTheOldFileWhole() {
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        const std::string old = "level-name=old\n";
        Testing::writeFile(root / "file", old);

        bool written = true;
        {
            FileSizeLimit limit(4096);
            written = PosixFileSystem().writeFileAtomically(root / "file", std::string(65536, 'x'));
        }
        QVERIFY(!written);
        QCOMPARE(Testing::readFile(root / "file"), old);
        QCOMPARE(entries(root), Names{"file"});
    }
};

QTEST_APPLESS_MAIN(TextFileTest)
#include "TextFileTest.moc"
