#include "platform/PosixFileSystem.h"

#include "support/TestSupport.h"
#include "support/TreeSnapshot.h"

#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace Plovermantle;
namespace fs = std::filesystem;
using Layout = std::vector<std::string>;

Q_DECLARE_METATYPE(Layout)
Q_DECLARE_METATYPE(ItemKind)

class PosixFileSystemTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    fs::path root_;
    PosixFileSystem files_;

    std::string at(const std::string& name) const { return (root_ / name).string(); }

private slots:
    void init() {
        fs::remove_all(root_ = fs::path(dir_.path().toStdString()) / "t");
        fs::create_directories(root_);
    }

    void tellsWhatAnItemIs_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<ItemKind>("kind");
        Testing::buildTree(fs::path(dir_.path().toStdString()) / "kinds",
                           {"d:folder", "f:file=12345", "l:link>folder", "l:dangling>nowhere",
                            "p:pipe", "s:sock"});
        QTest::newRow("folder") << "folder" << ItemKind::Folder;
        QTest::newRow("file") << "file" << ItemKind::RegularFile;
        QTest::newRow("link to a folder") << "link" << ItemKind::SymbolicLink;
        QTest::newRow("dangling link") << "dangling" << ItemKind::SymbolicLink;
        QTest::newRow("pipe") << "pipe" << ItemKind::Special;
        QTest::newRow("socket") << "sock" << ItemKind::Special;
        QTest::newRow("nothing") << "missing" << ItemKind::Missing;
        QTest::newRow("under a file") << "file/below" << ItemKind::Missing;
    }

    void tellsWhatAnItemIs() {
        QFETCH(QString, name);
        QFETCH(ItemKind, kind);
        const auto info =
            files_.itemInfo(dir_.filePath(QStringLiteral("kinds/") + name).toStdString());
        QVERIFY(info.has_value());
        QCOMPARE(info->kind, kind);
        if (kind == ItemKind::RegularFile) {
            QCOMPARE(info->size, std::uint64_t{5});
        }
    }

    void refusesToCopyAnythingButARegularFile_data() {
        QTest::addColumn<Layout>("layout");
        QTest::newRow("a pipe, which must not hang the copy") << Layout{"p:from"};
        QTest::newRow("a link to a file") << Layout{"f:file=x", "l:from>file"};
        QTest::newRow("a folder") << Layout{"d:from"};
        QTest::newRow("nothing") << Layout{};
        QTest::newRow("onto an existing file") << Layout{"f:from=new", "f:to=old"};
        QTest::newRow("onto a link") << Layout{"f:from=new", "f:file=old", "l:to>file"};
    }

    void refusesToCopyAnythingButARegularFile() {
        QFETCH(Layout, layout);
        Testing::buildTree(root_, layout);
        const auto before = Testing::snapshotTree(root_);
        QVERIFY(!files_.copyRegularFile(at("from"), at("to"), {}));
        // Whatever was there stays; nothing new is made.
        QCOMPARE(Testing::snapshotTree(root_), before);
    }

    void renamingNeverReplaces_data() {
        QTest::addColumn<Layout>("target");
        QTest::newRow("a file") << Layout{"f:to=old"};
        QTest::newRow("an empty folder") << Layout{"d:to"};
        QTest::newRow("a dangling link") << Layout{"l:to>nowhere"};
    }

    void renamingNeverReplaces() {
        QFETCH(Layout, target);
        Testing::buildTree(root_, target);
        Testing::buildTree(root_, {"d:from"});
        const auto before = Testing::snapshotTree(root_);
        QVERIFY(!files_.renameItem(at("from"), at("to")));
        QCOMPARE(Testing::snapshotTree(root_), before);

        fs::remove_all(root_ / "to");
        QVERIFY(files_.renameItem(at("from"), at("to")));
        QCOMPARE(files_.itemInfo(at("to"))->kind, ItemKind::Folder);
        QCOMPARE(files_.itemInfo(at("from"))->kind, ItemKind::Missing);
    }

    void exchangesAFolderAndALink() {
        Testing::buildTree(root_, {"f:folder/inside=1", "f:elsewhere/x=2", "l:link>elsewhere"});
        const ExchangeResult result = files_.exchangeItems(at("folder"), at("link"));
        if (result == ExchangeResult::Unsupported) {
            QSKIP("this file system cannot exchange two items");
        }
        QCOMPARE(result, ExchangeResult::Exchanged);
        QCOMPARE(files_.itemInfo(at("folder"))->kind, ItemKind::SymbolicLink);
        QCOMPARE(Testing::readFile(root_ / "link/inside"), std::string("1"));
        QCOMPARE(files_.exchangeItems(at("link"), at("missing")), ExchangeResult::Failed);
    }

    void removesATreeButNothingALinkPointsAt() {
        Testing::buildTree(root_, {"f:keep/file=kept", "f:tree/sub/file=x:0444", "d:tree/sub:0555",
                                   "l:tree/out>../keep", "d:tree:0500"});
        QVERIFY(files_.removeTree(at("tree")));
        QVERIFY(!fs::exists(fs::symlink_status(root_ / "tree")));
        QCOMPARE(Testing::readFile(root_ / "keep/file"), std::string("kept"));
        QVERIFY(files_.removeTree(at("tree"))); // nothing left to remove is success
    }
};

QTEST_MAIN(PosixFileSystemTest)
#include "PosixFileSystemTest.moc"
