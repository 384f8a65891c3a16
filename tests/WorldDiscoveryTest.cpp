#include "worlds/WorldDiscovery.h"

#include "platform/PosixFileSystem.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <filesystem>

using namespace Plovermantle;
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

class WorldDiscoveryTest : public QObject {
    Q_OBJECT

private slots:
    // Only the visible folders directly inside, named exactly as on disk: no files, no hidden
    // folders, no links, nothing nested.
    void listsVisibleFoldersOnly() {
        QTemporaryDir dir;
        const fs::path saves = dir.path().toStdString();
        for (const char* folder :
             {"World", "Castle.bak", " Welt Größe 世界 ", "Outer/Inner", ".hidden"}) {
            fs::create_directories(saves / folder);
        }
        Testing::writeFile(saves / "notes.txt", "data");
        fs::create_symlink("World", saves / "Link");

        PosixFileSystem files;
        Names worlds = listWorlds(files, saves.string());
        std::sort(worlds.begin(), worlds.end());
        QCOMPARE(worlds, (Names{" Welt Größe 世界 ", "Castle.bak", "Outer", "World"}));
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
