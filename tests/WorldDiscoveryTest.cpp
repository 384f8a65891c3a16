#include "worlds/WorldDiscovery.h"

#include "platform/PosixFileSystem.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QTest>
#include <filesystem>

using namespace Plovermantle;
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

Q_DECLARE_METATYPE(Names)

namespace {

// Builds a saves folder from short descriptions: "d:name" a folder, "f:name" a file,
// "l:name>target" a symbolic link; names may hold "/" to nest.
void build(const fs::path& root, const Names& layout) {
    for (const std::string& item : layout) {
        const std::string body = item.substr(2);
        const auto arrow = body.find('>');
        if (item[0] == 'd') {
            fs::create_directories(root / body);
        } else if (item[0] == 'f') {
            Testing::writeFile(root / body, "data");
        } else {
            fs::create_symlink(body.substr(arrow + 1), root / body.substr(0, arrow));
        }
    }
}

} // namespace

class WorldDiscoveryTest : public QObject {
    Q_OBJECT

private slots:
    void listsVisibleFoldersOnly_data() {
        QTest::addColumn<Names>("layout");
        QTest::addColumn<Names>("expected");
        QTest::newRow("no files, no hidden folders")
            << Names{"d:World", "f:notes.txt", "d:.hidden"} << Names{"World"};
        QTest::newRow("extension kept") << Names{"d:Castle.bak"} << Names{"Castle.bak"};
        QTest::newRow("only one level") << Names{"d:Outer/Inner/Deep"} << Names{"Outer"};
        QTest::newRow("links are not worlds") << Names{"d:Real", "l:Link>Real"} << Names{"Real"};
        QTest::newRow("names exactly as stored")
            << Names{"d: Welt Größe 世界 "} << Names{" Welt Größe 世界 "};
    }

    void listsVisibleFoldersOnly() {
        QFETCH(Names, layout);
        QFETCH(Names, expected);
        QTemporaryDir saves;
        build(saves.path().toStdString(), layout);

        PosixFileSystem files;
        QCOMPARE(listWorlds(files, saves.path().toStdString()), expected);
    }

    void unusableSavesFolderGivesNoWorlds() {
        QTemporaryDir root;
        const fs::path base = root.path().toStdString();
        build(base, {"f:file"});

        PosixFileSystem files;
        QCOMPARE(listWorlds(files, (base / "missing").string()), Names{});
        QCOMPARE(listWorlds(files, (base / "file").string()), Names{});
    }

    // The listing's order is kept, and an entry it could not examine is left out, not guessed at.
    void followsWhatTheListingSays() {
        Testing::ScriptedListing listing;
        listing.answer = std::vector<ListedEntry>{
            {"zeta", true}, {"file", false}, {"vanished", std::nullopt}, {"alpha", true}};
        QCOMPARE(listWorlds(listing, "/saves"), (Names{"zeta", "alpha"}));
        QCOMPARE(listing.foldersListed, Names{"/saves"});

        listing.answer.reset();
        QCOMPARE(listWorlds(listing, "/saves"), Names{});
    }
};

QTEST_GUILESS_MAIN(WorldDiscoveryTest)
#include "WorldDiscoveryTest.moc"
