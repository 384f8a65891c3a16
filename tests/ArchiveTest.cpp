// Worlds inside archives: which are found and under what names, what the first of them sends to a
// server folder, and every archive that must be refused before anything is written.
#include "worlds/Archive.h"

#include "support/ArchiveWriter.h"
#include "support/CopyScene.h"
#include "support/LevelDatWriter.h"
#include "support/TestSupport.h"
#include "worlds/Messages.h"
#include "worlds/StagedCopy.h"

#include <QTemporaryDir>
#include <QTest>
#include <clocale>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
namespace fs = std::filesystem;

namespace {

// Records what a server folder would receive: "d:path" and "f:path=contents".
class RecordingSink : public TreeSink {
public:
    bool makeFolder(const TransferItem& item) override {
        items.push_back("d:" + item.relativePath);
        return true;
    }
    bool writeFile(const TransferItem& item, FileContent& content,
                   const ContentProgress& progress) override {
        std::string data;
        char buffer[4096];
        std::optional<std::size_t> got;
        while ((got = content.read(buffer, sizeof buffer)) && *got > 0 && progress(*got)) {
            data.append(buffer, *got);
        }
        items.push_back("f:" + item.relativePath + "=" + (data.size() > 64 ? "…" : data));
        return got == std::size_t{0};
    }
    bool makeLink(const TransferItem& /*item*/) override { return false; }
    bool finish() override { return true; }

    Layout items;
};

// The worlds one a line, "name@path+companion folders/files/bytes 'level name'", or "!" and why
// the archive was refused, in the words of its category and with the entry it names.
Layout describe(const std::optional<std::vector<ArchiveWorld>>& worlds, const FileFailure& why) {
    if (!worlds) {
        const auto colon = why.path.find(": ");
        return {"!" + why.error.message() +
                (colon == std::string::npos ? "" : " @ " + why.path.substr(colon + 2))};
    }
    Layout lines;
    for (const ArchiveWorld& world : *worlds) {
        std::string line = world.name + "@" + world.path;
        for (const std::string& companion : world.companions) {
            line += "+" + companion;
        }
        line += " " + std::to_string(world.totals.folders) + "/" +
                std::to_string(world.totals.files) + "/" + std::to_string(world.totals.bytes);
        if (world.level && world.level->name) {
            line += " '" + QString::fromStdU16String(*world.level->name).toStdString() + "'";
        }
        lines.push_back(line);
    }
    return lines;
}

struct Case {
    std::string format;
    Layout entries;
    Layout worlds; // as describe tells them
    Layout sent;   // what the first world sends, or "!" and why it failed
    ArchiveLimits limits;
    std::size_t stopAfter; // progress answers false from this call on
    bool cut;              // sent from the first half of the archive listed
};

} // namespace

namespace QTest {
template <> inline char* toString(const Layout& lines) {
    std::string all;
    for (const std::string& line : lines) {
        all += "\n    " + line;
    }
    return qstrdup(all.c_str());
}
} // namespace QTest

Q_DECLARE_METATYPE(Case)

class ArchiveTest : public QObject {
    Q_OBJECT

private slots:
    // Names outside ASCII must come through whatever the user's locale.
    void initTestCase() { std::setlocale(LC_ALL, "C"); }

    void worlds_data() {
        QTest::addColumn<Case>("c");
        const auto row = [](const char* name, std::string format, Layout entries, Layout worlds,
                            Layout sent, ArchiveLimits limits = {},
                            std::size_t stopAfter = SIZE_MAX, bool cut = false) {
            QTest::newRow(name) << Case{format, entries, worlds, sent, limits, stopAfter, cut};
        };
        const std::string level =
            "f:M/W/level.dat=" +
            LevelDatWriter::gzip(LevelDatWriter::levelNbt("Sky Map", 0, 0, false, "1.21"));
        const Layout none;
        const std::string damaged = "!not an archive that can be read, or damaged or incomplete";
        const std::string out = "!a path that leads outside the folder it is unpacked into @ ";

        row("nested, junk left out, parents made first", "zip",
            {"f:M/W/r/a=r", "d:M/W/", level, "f:__MACOSX/M/._W=j", "f:M/W/.DS_Store=j",
             "f:M/Thumbs.db=j", "f:M/readme=r"},
            {"W@M/W 2/2/" + std::to_string(level.size() - 15) + " 'Sky Map'"},
            {"d:W", "d:W/r", "f:W/r/a=r", "f:W/level.dat=…"});
        row("several worlds, one inside another", "tar.gz",
            {"f:b/level.dat=x", "f:a/level.dat=x", "f:b/old/level.dat=yy", "f:c/readme=r"},
            {"a@a 1/1/1", "b@b 2/2/3"}, {"d:a", "f:a/level.dat=x"});
        row("a server's set goes as one, under its own names", "tar.zst",
            {"f:s/w/level.dat=x", "f:s/w_nether/level.dat=x", "f:s/w_the_end/DIM1/r=e",
             "f:s/x_nether/level.dat=x"},
            {"w@s/w+s/w_nether+s/w_the_end 4/3/3", "x_nether@s/x_nether 1/1/1"},
            {"d:w", "f:w/level.dat=x", "d:w_nether", "f:w_nether/level.dat=x", "d:w_the_end",
             "d:w_the_end/DIM1", "f:w_the_end/DIM1/r=e"});
        row("level.dat at the top: named after the archive", "7z", {"f:level.dat=x", "f:data/d=y"},
            {"Sky Island@ 2/2/2"},
            {"d:Sky Island", "f:Sky Island/level.dat=x", "d:Sky Island/data",
             "f:Sky Island/data/d=y"});
        row("2026 layout", "tar.xz",
            {"f:w/level.dat=x", "f:w/dimensions/minecraft/the_nether/level.dat=x"}, {"w@w 4/2/2"},
            {"d:w", "f:w/level.dat=x", "d:w/dimensions", "d:w/dimensions/minecraft",
             "d:w/dimensions/minecraft/the_nether",
             "f:w/dimensions/minecraft/the_nether/level.dat=x"});
        row("zip name in DOS's code page", "zip-cp437", {"f:Café/level.dat=x"}, {"Café@Café 1/1/1"},
            {"d:Café", "f:Café/level.dat=x"});
        row("links and hard links left out", "tar",
            {"f:w/level.dat=x", "l:w/l>/etc/passwd", "h:w/h>w/level.dat"}, {"w@w 1/1/1"},
            {"d:w", "f:w/level.dat=x"});
        row("..", "tar", {"f:w/level.dat=x", "f:w/../../e=x"}, {out + "w/../../e"}, none);
        row("absolute path", "tar", {"f:/etc/cron.d/e=x"}, {out + "/etc/cron.d/e"}, none);
        row("name not UTF-8", "tar", {"f:w\xff/level.dat=x"},
            {"!a name that is not UTF-8 text @ w\\xff/level.dat"}, none);
        row("too many entries", "zip", {"f:w/level.dat=x", "f:w/a=1", "f:w/b=2"},
            {"!more entries than a world has"}, none, {.maxEntries = 2});
        row("ratio of unpacked to packed bytes", "tar.gz", {"f:w/level.dat=x", "z:w/zeros=3000000"},
            {"!unpacks to far more than its own size"}, none,
            {.maxRatio = 100, .ratioAllowance = 1 << 20});
        row("bytes past the free space, counted as they are read", "tar.gz",
            {"f:w/level.dat=x", "z:w/big=100000"}, {"w@w 1/2/100001"},
            {"!more than the free space of the server folder"}, {.maxBytes = 50000});
        row("the same file twice", "tar", {"f:w/level.dat=x", "f:w/level.dat=y"}, {"w@w 1/2/2"},
            {"!a path that the archive holds twice @ w/level.dat"});
        row("cancelled", "zip", {"f:w/level.dat=x", "f:w/a=1"}, {"w@w 1/2/2"}, {"!stopped"}, {}, 2);
        row("cut short after it was listed", "tar", {"f:w/level.dat=x", "z:w/big=200000"},
            {"w@w 1/2/200001"}, {damaged + " @ w/big"}, {}, SIZE_MAX, true);
        row("not an archive", "", {}, {damaged}, none);
    }
    void worlds() {
        QFETCH(Case, c);
        const std::string bytes = c.format.empty() ? "text" : makeArchive(c.format, c.entries);
        const ArchiveInput input{.path = {}, .bytes = bytes, .name = "Sky Island.tar.gz"};
        FileFailure failure;
        const auto worlds = findArchiveWorlds(input, c.limits, failure);
        QCOMPARE(describe(worlds, failure), c.worlds);
        QCOMPARE(worlds.has_value(), archiveRefusal(failure) == std::nullopt);
        if (!worlds) {
            return;
        }
        const std::string_view sentBytes(bytes.data(), c.cut ? bytes.size() / 2 : bytes.size());
        ArchiveWorldSource source({.path = {}, .bytes = sentBytes, .name = input.name},
                                  worlds->front(), c.limits);
        RecordingSink sink;
        std::size_t calls = 0;
        const auto result =
            source.sendTo(sink, [&](const WorkProgress&) { return ++calls < c.stopAfter; });
        const auto why = source.takeFailure();
        const Layout sent = result == WorldSource::SendResult::Stopped ? Layout{"!stopped"}
                            : why ? describe(std::nullopt, *why)
                                  : sink.items;
        QCOMPARE(sent, c.sent);
    }

    // A server's set from an archive replaces the old set as one: when one of its items cannot take
    // its place, the server folder has no room for it or the archive is replaced after it was
    // listed, the old set is there as it was.
    void deploysASetAllOrNothing_data() {
        QTest::addColumn<std::string>("failingRename");
        QTest::addColumn<std::uint64_t>("freeBytes");
        QTest::addColumn<bool>("replaced");
        QTest::addColumn<std::string>("alert");
        const std::string unable = Messages::unableToReplace.informativeText;
        QTest::newRow("placed") << std::string() << UINT64_MAX << false
                                << Messages::worldCopied.informativeText;
        QTest::newRow("the world cannot take its place")
            << std::string("/world") << UINT64_MAX << false << unable;
        QTest::newRow("the End cannot take its place")
            << std::string("/world_the_end") << UINT64_MAX << false << unable;
        QTest::newRow("no room")
            << std::string() << std::uint64_t{1000} << false
            << std::string("The world is larger than the free space in the server folder.");
        QTest::newRow("archive replaced") << std::string() << UINT64_MAX << true
                                          << Messages::archiveChangedWhileCopied.informativeText;
    }
    void deploysASetAllOrNothing() {
        QFETCH(std::string, failingRename);
        QFETCH(std::uint64_t, freeBytes);
        QFETCH(bool, replaced);
        QFETCH(std::string, alert);
        CopyScene s;
        struct Folder : FailingServerFolder {
            std::uint64_t free = 0;
            std::optional<std::uint64_t> freeBytes() override { return free; }
        } folder;
        folder.free = freeBytes;
        buildTree(s.server, {"f:world/level.dat=old", "f:world_nether/DIM-1/n=old"});
        const std::string bytes =
            makeArchive("zip", {"f:b/world/level.dat=new", "f:b/world_nether/DIM-1/n=new",
                                "z:b/world_the_end/DIM1/e=5000"});
        const std::string path = (s.root / "b.zip").string();
        writeFile(path, bytes);
        const ArchiveInput input{.path = path, .bytes = {}, .name = "b.zip"};
        FileFailure failure;
        const auto worlds = findArchiveWorlds(input, {}, failure);
        QVERIFY(worlds && worlds->size() == 1);
        if (replaced) {
            fs::remove(path);
            writeFile(path, bytes);
        }
        ArchiveWorldSource source(input, worlds->front(), {});
        const auto real = LocalServerFolder::open(s.server.string());
        folder.real = real.get();
        folder.failIf = [&](const FolderCall& call) {
            return !failingRename.empty() && call.operation == "rename" &&
                   call.path.starts_with(stagingFolderPrefix) && call.path.ends_with(failingRename);
        };
        copyWorld(s.platform, folder, source, "world", ExistingWorld::Replace);
        const bool placed = alert == Messages::worldCopied.informativeText;
        const Layout old{"server.properties", "world", "world_nether"};
        const Layout set{"server.properties", "server.properties.backup", "world", "world_nether",
                         "world_the_end"};
        QCOMPARE(entries(s.server), placed ? set : old);
        QVERIFY(!s.dialogs.alerts.empty());
        QCOMPARE(s.dialogs.alerts.back().informativeText, alert);
        QCOMPARE(readFile(s.server / "world_nether/DIM-1/n"), placed ? "new" : "old");
        QCOMPARE(readFile(s.server / "world/level.dat"), placed ? "new" : "old");
    }
};

QTEST_GUILESS_MAIN(ArchiveTest)
#include "ArchiveTest.moc"
