#include "worlds/WorldDiscovery.h"

#include "platform/PosixFileSystem.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QTest>
#include <dirent.h>
#include <filesystem>
#include <unistd.h>

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
        switch (item[0]) {
        case 'd':
            fs::create_directories(root / body);
            break;
        case 'f':
            Testing::writeFile(root / body, "data");
            break;
        case 'l': {
            const auto arrow = body.find('>');
            fs::create_symlink(body.substr(arrow + 1), root / body.substr(0, arrow));
            break;
        }
        default:
            QFAIL("unknown layout item");
        }
    }
}

Names sorted(Names names) {
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

class WorldDiscoveryTest : public QObject {
    Q_OBJECT

private slots:
    void listsVisibleFoldersOnly_data() {
        QTest::addColumn<Names>("layout");
        QTest::addColumn<Names>("expected");

        QTest::newRow("folder, file and hidden folder")
            << Names{"d:World", "f:notes.txt", "d:.hidden"} << Names{"World"};
        QTest::newRow("extension kept")
            << Names{"d:Castle.bak", "d:a.b.c"} << Names{"Castle.bak", "a.b.c"};
        QTest::newRow("only one level") << Names{"d:Outer/Inner/Deep"} << Names{"Outer"};
        QTest::newRow("empty folder listed") << Names{"d:Empty"} << Names{"Empty"};
        QTest::newRow("links are not worlds")
            << Names{"d:Real", "l:Link>Real", "l:Dangling>nowhere", "f:file", "l:FileLink>file"}
            << Names{"Real"};
        QTest::newRow("spaces and non-ASCII")
            << Names{"d:My World", "d:Welt Größe", "d:世界", "d: leading", "d:trailing "}
            << Names{" leading", "My World", "Welt Größe", "trailing ", "世界"};
        QTest::newRow("hidden files and links")
            << Names{"f:.DS_Store", "l:.link>x", "d:.git/objects"} << Names{};
        QTest::newRow("empty saves folder") << Names{} << Names{};
    }

    void listsVisibleFoldersOnly() {
        QFETCH(Names, layout);
        QFETCH(Names, expected);
        QTemporaryDir saves;
        build(saves.path().toStdString(), layout);

        PosixFileSystem files;
        QCOMPARE(sorted(listWorlds(files, saves.path().toStdString())), sorted(expected));
    }

    void keepsTheFileSystemsOrder() {
        QTemporaryDir saves;
        Names layout;
        for (int i = 0; i < 40; ++i) {
            layout.push_back("d:world" + std::to_string(i));
        }
        build(saves.path().toStdString(), layout);

        Names raw;
        DIR* dir = ::opendir(saves.path().toLocal8Bit().constData());
        QVERIFY(dir != nullptr);
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (!name.starts_with('.')) {
                raw.push_back(name);
            }
        }
        ::closedir(dir);

        PosixFileSystem files;
        QCOMPARE(listWorlds(files, saves.path().toStdString()), raw);
    }

    void unusableSavesFolderGivesNoWorlds_data() {
        QTest::addColumn<QString>("relative");
        QTest::newRow("missing") << QStringLiteral("no/such/saves");
        QTest::newRow("a file, not a folder") << QStringLiteral("file");
        QTest::newRow("below a file") << QStringLiteral("file/saves");
        QTest::newRow("dangling link") << QStringLiteral("dangling");
    }

    void unusableSavesFolderGivesNoWorlds() {
        QFETCH(QString, relative);
        QTemporaryDir root;
        const fs::path base = root.path().toStdString();
        build(base, {"f:file", "l:dangling>gone"});

        PosixFileSystem files;
        QCOMPARE(listWorlds(files, (base / relative.toStdString()).string()), Names{});
    }

    void unreadableSavesFolderGivesNoWorlds() {
        if (::geteuid() == 0) {
            QSKIP("root reads any folder whatever its permission bits; covered by the listing "
                  "tests through the scripted platform");
        }
        QTemporaryDir saves;
        build(saves.path().toStdString(), {"d:World"});
        fs::permissions(saves.path().toStdString(), fs::perms::none);
        PosixFileSystem files;
        const Names worlds = listWorlds(files, saves.path().toStdString());
        fs::permissions(saves.path().toStdString(), fs::perms::owner_all);
        QCOMPARE(worlds, Names{});
    }

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
