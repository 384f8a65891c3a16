#include "worlds/TreeCopy.h"

#include "platform/PosixFileSystem.h"
#include "support/TestSupport.h"
#include "support/TreeSnapshot.h"

#include <QTemporaryDir>
#include <QTest>
#include <random>

using namespace Plovermantle;
namespace fs = std::filesystem;
using Layout = std::vector<std::string>;

Q_DECLARE_METATYPE(Layout)

namespace {

std::string randomBytes(std::size_t size) {
    std::mt19937 generator(42);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator() & 0xff);
    }
    return bytes;
}

} // namespace

class TreeCopyTest : public QObject {
    Q_OBJECT

private slots:
    void copiesTheWholeTreeAsItIs_data() {
        QTest::addColumn<Layout>("layout");
        QTest::addColumn<int>("skipped");

        QTest::newRow("nested folders and files")
            << Layout{"f:level.dat=level", "f:region/r.0.0.mca=region data",
                      "f:DIM-1/region/r.-1.0.mca=nether", "f:data/deep/er/est/x.dat=x"}
            << 0;
        QTest::newRow("empty world") << Layout{} << 0;
        QTest::newRow("empty folders") << Layout{"d:empty", "d:a/b/c", "f:a/file=1"} << 0;
        QTest::newRow("permission bits")
            << Layout{"f:private=p:0600",  "f:script=s:0755", "f:readonly=r:0444", "f:group=g:0640",
                      "f:locked/inside=i", "d:locked:0555",   "d:owner:0700"}
            << 0;
        QTest::newRow("links copied as links, never followed")
            << Layout{"f:file=f",
                      "l:relative>file",
                      "l:absolute>/etc/hostname",
                      "l:dangling>nowhere/at/all",
                      "l:outside>../../..",
                      "l:sub/up>../file",
                      "l:loop>loop"}
            << 0;
        QTest::newRow("hidden and unusual names")
            << Layout{"f:.hidden=h", "d:.hidden folder",           "f:with space=s", "f:Größe=g",
                      "f:世界=w",    "f: leading and trailing =t", "f:new\nline=n"}
            << 0;
        QTest::newRow("pipes and sockets are left out")
            << Layout{"f:kept=k", "p:pipe", "s:sock", "p:sub/pipe"} << 3;
    }

    void copiesTheWholeTreeAsItIs() {
        QFETCH(Layout, layout);
        QFETCH(int, skipped);
        QTemporaryDir dir;
        const fs::path source = fs::path(dir.path().toStdString()) / "world";
        const fs::path destination = fs::path(dir.path().toStdString()) / "copy";
        Testing::buildTree(source, layout);
        const auto before = Testing::snapshotTree(source);

        PosixFileSystem files;
        const auto plan = planTreeCopy(files, source.string());
        QVERIFY(plan.has_value());
        QCOMPARE(plan->skipped, static_cast<std::uint64_t>(skipped));
        QCOMPARE(copyTree(files, *plan, source.string(), destination.string()),
                 TreeCopyResult::Copied);

        QCOMPARE(Testing::snapshotTree(destination), Testing::snapshotTree(source, false));
        QCOMPARE(Testing::snapshotTree(source), before);
        // Nothing beside the copy: a followed link would have dragged its target in.
        QCOMPARE(std::distance(fs::directory_iterator(dir.path().toStdString()),
                               fs::directory_iterator()),
                 2);
        Testing::makeRemovable(dir.path().toStdString());
    }

    void progressCountsUpToTheTotals() {
        QTemporaryDir dir;
        const fs::path source = fs::path(dir.path().toStdString()) / "world";
        Testing::buildTree(
            source, {"f:a=12345", "f:b/c=1234567890", "f:b/empty=", "l:link>a", "d:d/e", "p:pipe"});
        Testing::writeFile(source / "big", randomBytes((std::size_t{2} << 20) + 1));

        PosixFileSystem files;
        const auto plan = planTreeCopy(files, source.string());
        QVERIFY(plan.has_value());
        QCOMPARE(plan->files, std::uint64_t{5});
        const std::uint64_t bytes = 5 + 10 + (std::uint64_t{2} << 20) + 1;
        QCOMPARE(plan->bytes, bytes);

        std::vector<CopyProgress> reports;
        const fs::path destination = fs::path(dir.path().toStdString()) / "copy";
        const auto result = copyTree(files, *plan, source.string(), destination.string(),
                                     [&](const CopyProgress& progress) {
                                         reports.push_back(progress);
                                         return true;
                                     });
        QCOMPARE(result, TreeCopyResult::Copied);
        QCOMPARE(Testing::snapshotTree(destination), Testing::snapshotTree(source, false));
        QVERIFY(!reports.empty());
        for (std::size_t i = 0; i < reports.size(); ++i) {
            QCOMPARE(reports[i].filesTotal, std::uint64_t{5});
            QCOMPARE(reports[i].bytesTotal, bytes);
            if (i > 0) {
                QVERIFY(reports[i].filesDone >= reports[i - 1].filesDone);
                QVERIFY(reports[i].bytesDone >= reports[i - 1].bytesDone);
            }
        }
        QCOMPARE(reports.back().filesDone, std::uint64_t{5});
        QCOMPARE(reports.back().bytesDone, bytes);
    }

    void stopsWhenTold_data() {
        QTest::addColumn<int>("stopAt");
        QTest::newRow("first report") << 1;
        QTest::newRow("inside the big file") << 2;
        QTest::newRow("a later file") << 6;
    }

    void stopsWhenTold() {
        QFETCH(int, stopAt);
        QTemporaryDir dir;
        const fs::path source = fs::path(dir.path().toStdString()) / "world";
        Testing::writeFile(source / "big", randomBytes(std::size_t{3} << 20));
        Testing::buildTree(source, {"f:a=1", "f:b=2", "f:c=3", "f:d=4", "f:e=5", "f:f=6"});

        PosixFileSystem files;
        const auto plan = planTreeCopy(files, source.string());
        QVERIFY(plan.has_value());
        int reports = 0;
        const auto result = copyTree(files, *plan, source.string(),
                                     (fs::path(dir.path().toStdString()) / "copy").string(),
                                     [&](const CopyProgress&) { return ++reports < stopAt; });
        QCOMPARE(result, TreeCopyResult::Stopped);
        QCOMPARE(reports, stopAt);
    }

    void onlyAFolderCanBeCopied_data() {
        QTest::addColumn<Layout>("layout");
        QTest::newRow("a file") << Layout{"f:world=x"};
        QTest::newRow("a link to a folder") << Layout{"d:real", "l:world>real"};
        QTest::newRow("nothing") << Layout{};
        QTest::newRow("a pipe") << Layout{"p:world"};
    }

    void onlyAFolderCanBeCopied() {
        QFETCH(Layout, layout);
        QTemporaryDir dir;
        Testing::buildTree(dir.path().toStdString(), layout);
        PosixFileSystem files;
        QVERIFY(!planTreeCopy(files, dir.filePath(QStringLiteral("world")).toStdString()));
    }
};

QTEST_MAIN(TreeCopyTest)
#include "TreeCopyTest.moc"
