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

class TextFileTest : public QObject {
    Q_OBJECT

private slots:
    // Every byte written comes back, however many reads it takes, and a shorter text replaces a
    // longer one whole, with no tail of it left over.
    void readsAndWritesEveryByte() {
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        PosixFileSystem files;
        for (const std::string& contents :
             {std::string(200'000, 'x'), std::string("\xef\xbb\xbf\0a=1\r\nb=Größe 世界"sv)}) {
            QVERIFY(files.writeFileAtomically(root / "file", contents));
            QCOMPARE(bytes(readFile(root / "file")), bytes(contents));
            QCOMPARE(bytes(files.readTextFile(root / "file").value_or("")), bytes(contents));
        }
        QCOMPARE(entries(root), Names{"file"}); // no temporary file left behind
    }

    // Neither a folder nor a FIFO (which would block a plain open) is read; paths that would
    // name another file once passed to the kernel or through Qt are refused untouched.
    void refusesWhatIsNotAPlainFile() {
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        writeFile(root / "folder/inside", "kept");
        QCOMPARE(::mkfifo((root / "fifo").c_str(), 0600), 0);
        const std::string nulPath = (root / "folder/inside").string() + std::string(1, '\0');

        PosixFileSystem files;
        QVERIFY(!files.readTextFile(root / "folder"));
        QVERIFY(!files.readTextFile(root / "fifo"));
        QVERIFY(!files.readTextFile(nulPath + "x"));
        QVERIFY(!files.writeFileAtomically(root / "folder", "new"));
        QVERIFY(!files.writeFileAtomically(root / "bad\xff", "new"));
        QVERIFY(!files.writeFileAtomically(nulPath, "new"));
        QCOMPARE(entries(root), (Names{"fifo", "folder"}));
        QCOMPARE(entries(root / "folder"), Names{"inside"});
        QCOMPARE(readFile(root / "folder/inside"), std::string("kept"));
    }

    void diskFullMidWriteLeavesTheOldFileWhole() {
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        const std::string old = "level-name=old\n";
        writeFile(root / "file", old);

        // The kernel holds root to a lowered file size limit too: a disk that fills up mid-write.
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        rlimit lowered = saved;
        lowered.rlim_cur = 4096;
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &lowered);
        const bool written =
            PosixFileSystem().writeFileAtomically(root / "file", std::string(65536, 'x'));
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
        QVERIFY(!written);
        QCOMPARE(readFile(root / "file"), old);
        QCOMPARE(entries(root), Names{"file"});
    }
};

QTEST_APPLESS_MAIN(TextFileTest)
#include "TextFileTest.moc"
