// Worlds inside archives: which are found and under what names, what one of them sends to a
// server folder, and every archive that must be refused before anything is written.
#include "worlds/Archive.h"

#include "LevelDatWriter.h"
#include "support/ArchiveWriter.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QTest>
#include <clocale>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
using Layout = std::vector<std::string>;

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
        for (;;) {
            const auto got = content.read(buffer, sizeof buffer);
            if (!got) {
                return false;
            }
            if (*got == 0) {
                break;
            }
            data.append(buffer, *got);
            if (!progress(*got)) {
                return false;
            }
        }
        items.push_back("f:" + item.relativePath + "=" + (data.size() > 64 ? "…" : data));
        return true;
    }
    bool makeLink(const TransferItem& item) override {
        items.push_back("l:" + item.relativePath);
        return true;
    }
    bool finish() override {
        finished = true;
        return true;
    }

    Layout items;
    bool finished = false;
};

// The worlds as one line each: "name@path+companions folders/files/bytes 'level name'".
Layout describeWorlds(const std::vector<ArchiveWorld>& worlds) {
    Layout lines;
    for (const ArchiveWorld& world : worlds) {
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

// Why the archive was refused, as "problem: entry" in the category's words.
std::string refusal(const FileFailure& failure) {
    const auto colon = failure.path.find(": ");
    return failure.error.message() +
           (colon == std::string::npos ? "" : " @ " + failure.path.substr(colon + 2));
}

const std::string level =
    LevelDatWriter::gzip(LevelDatWriter::levelNbt("Sky Map", 1700000000000, 0, false, "1.21"));

struct Found {
    std::string format;
    Layout entries;
    Layout worlds = {};     // as describeWorlds tells them
    std::string error = {}; // as refusal tells it, when the archive is refused
    ArchiveLimits limits = {};
};

struct Sent {
    std::string format;
    Layout entries;
    Layout items = {};      // what the sink receives from the first world
    std::string error = {}; // or why the send failed
    ArchiveLimits limits = {};
    std::size_t stopAfter = SIZE_MAX; // progress answers false from this call on
};

const std::string outside = "a path that leads outside the folder it is unpacked into";
const std::string unreadable = "not an archive that can be read, or damaged or incomplete";

} // namespace

// Readable failures.
namespace QTest {
template <> inline char* toString(const std::string& text) {
    return qstrdup(text.c_str());
}
template <> inline char* toString(const Layout& lines) {
    std::string all;
    for (const std::string& line : lines) {
        all += "\n    " + line;
    }
    return qstrdup(all.c_str());
}
} // namespace QTest

Q_DECLARE_METATYPE(Found)
Q_DECLARE_METATYPE(Sent)

class ArchiveTest : public QObject {
    Q_OBJECT

private slots:
    // Names outside ASCII must come through whatever the user's locale.
    void initTestCase() { std::setlocale(LC_ALL, "C"); }

    void findsWorlds_data() {
        QTest::addColumn<Found>("c");
        const std::string ld = "=" + level;
        QTest::newRow("nested root, macOS junk") << Found{
            "zip",
            {"d:Download/", "d:Download/MyMap/", "f:Download/MyMap/level.dat" + ld,
             "f:Download/MyMap/region/r.0.0.mca=abcd", "f:__MACOSX/Download/MyMap/._level.dat=x",
             "f:Download/MyMap/.DS_Store=x", "f:Download/Thumbs.db=x"},
            {"MyMap@Download/MyMap 2/2/" + std::to_string(level.size() + 4) + " 'Sky Map'"}};
        QTest::newRow("several worlds, one nested in another, a folder that is none") << Found{
            "tar.gz",
            {"f:b/level.dat=x", "f:a/level.dat=x", "f:b/backup/level.dat=yy", "f:c/readme.txt=r"},
            {"a@a 1/1/1", "b@b 2/2/3"}};
        QTest::newRow("a server's set: the Nether and the End go with their world")
            << Found{"tar.zst",
                     {"f:srv/world/level.dat=x", "f:srv/world_nether/level.dat=x",
                      "f:srv/world_nether/DIM-1/r.mca=n", "f:srv/world_the_end/DIM1/r.mca=e",
                      "f:srv/lonely_nether/level.dat=x"},
                     {"lonely_nether@srv/lonely_nether 1/1/1",
                      "world@srv/world+srv/world_nether+srv/world_the_end 5/4/4"}};
        QTest::newRow("level.dat at the top: named after the archive")
            << Found{"7z", {"f:level.dat=x", "f:region/r.mca=r"}, {"Sky Island@ 2/2/2"}};
        QTest::newRow("2026 layout")
            << Found{"tar.xz",
                     {"f:W/level.dat=x", "f:W/dimensions/minecraft/overworld/region/r.0.0.mca=r",
                      "f:W/dimensions/minecraft/the_nether/level.dat=x"},
                     {"W@W 6/3/3"}};
        QTest::newRow("zip name in DOS's code page")
            << Found{"zip-cp437", {"f:Café/level.dat=x"}, {"Café@Café 1/1/1"}};
        QTest::newRow("links and hard links are left out")
            << Found{"tar",
                     {"f:w/level.dat=x", "l:w/link>../../etc/passwd", "h:w/hard>w/level.dat"},
                     {"w@w 1/1/1"}};
        QTest::newRow("..") << Found{
            "tar", {"f:w/level.dat=x", "f:w/../../evil=x"}, {}, outside + " @ w/../../evil"};
        QTest::newRow("absolute path")
            << Found{"tar", {"f:/etc/cron.d/evil=x"}, {}, outside + " @ /etc/cron.d/evil"};
        QTest::newRow("name not UTF-8") << Found{
            "tar", {"f:w\xff/level.dat=x"}, {}, "a name that is not UTF-8 text @ w\\xff/level.dat"};
        QTest::newRow("too many entries") << Found{"zip",
                                                   {"f:w/level.dat=x", "f:w/a=1", "f:w/b=2"},
                                                   {},
                                                   "more entries than a world has",
                                                   {.maxEntries = 2}};
        QTest::newRow("ratio of unpacked to packed bytes")
            << Found{"tar.gz",
                     {"f:w/level.dat=x", "z:w/zeros=3000000"},
                     {},
                     "unpacks to far more than its own size",
                     {.maxRatio = 100, .ratioAllowance = 1 << 20}};
        QTest::newRow("not an archive") << Found{"none", {}, {}, unreadable};
    }
    void findsWorlds() {
        QFETCH(Found, c);
        const std::string bytes =
            c.format == "none" ? "just text" : makeArchive(c.format, c.entries);
        FileFailure failure;
        const auto worlds = findArchiveWorlds(
            {.path = {}, .bytes = bytes, .name = "Sky Island.tar.gz"}, c.limits, failure);
        QCOMPARE(worlds ? "" : refusal(failure), c.error);
        QCOMPARE(worlds ? describeWorlds(*worlds) : Layout{}, c.worlds);
        if (!worlds) {
            QVERIFY(archiveRefusal(failure).has_value()); // each refusal has its alert
        }
    }

    void sendsWorld_data() {
        QTest::addColumn<Sent>("c");
        QTest::newRow("parents first, made where the archive has no entry for them") << Sent{
            "zip",
            {"f:top/w/region/r.mca=r", "d:top/w/", "f:top/w/level.dat=x", "f:top/other.txt=o"},
            {"d:w", "d:w/region", "f:w/region/r.mca=r", "f:w/level.dat=x"}};
        QTest::newRow("a set, under its own names")
            << Sent{"tar.gz",
                    {"f:world/level.dat=x", "f:world_the_end/DIM1/r=e", "f:junk/._x=j"},
                    {"d:world", "f:world/level.dat=x", "d:world_the_end", "d:world_the_end/DIM1",
                     "f:world_the_end/DIM1/r=e"}};
        QTest::newRow("top-level world")
            << Sent{"7z",
                    {"f:level.dat=x", "f:data/d=y"},
                    {"d:Sky", "f:Sky/level.dat=x", "d:Sky/data", "f:Sky/data/d=y"}};
        QTest::newRow("the same file twice")
            << Sent{"tar",
                    {"f:w/level.dat=x", "f:w/level.dat=y"},
                    {},
                    "a path that the archive holds twice @ w/level.dat"};
        QTest::newRow("bytes past the free space, counted as they are read")
            << Sent{"tar.gz",
                    {"f:w/level.dat=x", "z:w/big=100000"},
                    {},
                    "more than the free space of the server folder",
                    {.maxBytes = 50000}};
        QTest::newRow("cancelled")
            << Sent{"zip", {"f:w/level.dat=x", "f:w/a=1", "f:w/b=2"}, {}, "stopped", {}, 2};
    }
    void sendsWorld() {
        QFETCH(Sent, c);
        const std::string bytes = makeArchive(c.format, c.entries);
        const ArchiveInput input{.path = {}, .bytes = bytes, .name = "Sky.zip"};
        FileFailure failure;
        auto worlds = findArchiveWorlds(input, {}, failure);
        QVERIFY(worlds && !worlds->empty());
        ArchiveWorldSource source(input, worlds->front(), c.limits);
        RecordingSink sink;
        std::size_t calls = 0;
        const auto result =
            source.sendTo(sink, [&](const WorkProgress&) { return ++calls < c.stopAfter; });
        const auto why = source.takeFailure();
        const std::string error = result == WorldSource::SendResult::Stopped ? "stopped"
                                  : why                                      ? refusal(*why)
                                                                             : "";
        QCOMPARE(error, c.error);
        QCOMPARE(result == WorldSource::SendResult::Sent, c.error.empty());
        if (c.error.empty()) {
            QCOMPARE(sink.items, c.items);
            QVERIFY(sink.finished);
            QCOMPARE(source.totals(), std::optional(worlds->front().totals));
        }
    }

    // A world announced larger than the free space is refused before a byte is sent; a truncated
    // archive fails its send, as a file of it cannot be read whole.
    void refusesBeforeSending() {
        const std::string bytes = makeArchive("tar", {"f:w/level.dat=x", "z:w/big=2000000"});
        FileFailure failure;
        const auto worlds =
            findArchiveWorlds({.path = {}, .bytes = bytes, .name = "a.tar"}, {}, failure);
        QVERIFY(worlds);
        ArchiveWorldSource tooBig({.path = {}, .bytes = bytes, .name = "a.tar"}, worlds->front(),
                                  {.maxBytes = 1000000});
        QVERIFY(!tooBig.totals());
        QCOMPARE(refusal(*tooBig.takeFailure()), "more than the free space of the server folder");

        const std::string cut = bytes.substr(0, bytes.size() / 2);
        ArchiveWorldSource truncated({.path = {}, .bytes = cut, .name = "a.tar"}, worlds->front(),
                                     {});
        RecordingSink sink;
        QCOMPARE(truncated.sendTo(sink, {}), WorldSource::SendResult::Failed);
        QVERIFY(truncated.takeFailure());
        QVERIFY(!sink.finished);
    }

    // An archive file replaced since its worlds were listed is not sent from.
    void refusesArchiveChangedSinceListed() {
        const QTemporaryDir dir;
        const std::string path = dir.filePath("map.zip").toStdString();
        writeFile(path, makeArchive("zip", {"f:w/level.dat=x"}));
        FileFailure failure;
        const ArchiveInput input{.path = path, .bytes = {}, .name = "map.zip"};
        const auto worlds = findArchiveWorlds(input, {}, failure);
        QVERIFY(worlds && worlds->size() == 1);
        RecordingSink sink;
        QCOMPARE(ArchiveWorldSource(input, worlds->front(), {}).sendTo(sink, {}),
                 WorldSource::SendResult::Sent);
        writeFile(path, makeArchive("zip", {"f:w/level.dat=y", "f:w/more=z"}));
        QCOMPARE(ArchiveWorldSource(input, worlds->front(), {}).sendTo(sink, {}),
                 WorldSource::SendResult::SourceChanged);
    }

    void archiveNames() {
        const struct {
            std::string path;
            bool archive;
            std::string stem;
        } rows[] = {{"/d/My Map.ZIP", true, "My Map"},
                    {"Sky.tar.gz", true, "Sky"},
                    {"a.b.tgz", true, "a.b"},
                    {"/saves/world", false, "world"}};
        for (const auto& row : rows) {
            QCOMPARE(isArchiveName(row.path), row.archive);
            QCOMPARE(archiveStem(row.path), row.stem);
        }
    }
};

QTEST_GUILESS_MAIN(ArchiveTest)
#include "ArchiveTest.moc"
