// The files the saves side reads from outside the app's control, without the window: level.dat's
// fields or nothing, a launcher instance's name from the start of its instance.cfg, the world a
// server.properties names, and reads bounded to regular files.
#include "platform/PosixFileSystem.h"
#include "settings/SavesFolders.h"
#include "support/LevelDatWriter.h"
#include "support/TestSupport.h"
#include "worlds/LevelDat.h"
#include "worlds/ServerProperties.h"

#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
using namespace Plovermantle::LevelDatWriter;
using namespace std::literals;
namespace fs = std::filesystem;
using Read = std::optional<LevelSummary>;
Q_DECLARE_METATYPE(Read)

namespace {

// A root compound holding Data with `fields`.
std::string data(const Nbt& fields) {
    return Nbt().tag(10, "").tag(10, "Data").raw(fields.bytes).end().end().bytes;
}

// `depth` lists, or compounds, each inside the one before, in a root compound.
std::string nested(int depth, bool lists) {
    std::string nbt = lists ? "\x0a\0\0\x09\0\0"s : "\x0a\0\0"s;
    for (int i = lists ? 1 : 0; i < depth; ++i) {
        nbt += lists ? "\x09\0\0\0\x01"s : "\x0a\0\0"s;
    }
    return nbt + std::string(lists ? 6 : static_cast<std::size_t>(depth) + 1, '\0');
}

} // namespace

class ReadersTest : public QObject {
    Q_OBJECT

private slots:
    // A gzip file's fields, or nothing at all.
    void readsTheFieldsOrNothing_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<Read>("expected");
        const auto row = [](const char* name, const std::string& file, Read expected = {}) {
            QTest::newRow(name) << bytes(file) << expected;
        };
        const auto nbtRow = [&](const char* name, const std::string& nbt, Read expected = {}) {
            row(name, gzip(nbt), expected);
        };
        const std::string valid = levelNbt("Island", 1700000000123, 1, false, "1.20.4");
        nbtRow("amid every other type", valid,
               LevelSummary{u"Island", 1700000000123, 1, false, u"1.20.4"});
        nbtRow("hardcore", levelNbt("H", -1, 0, true, ""), LevelSummary{u"H", -1, 0, true, u""});
        Nbt wrong;
        wrong.tag(3, "LevelName").number(5).tag(8, "GameType").string("1");
        wrong.tag(10, "Version").tag(3, "Name").number(1).end();
        nbtRow("fields of another type left out", data(wrong), LevelSummary{});
        nbtRow("fields outside Data left out",
               Nbt().tag(10, "").tag(8, "LevelName").string("x").end().bytes, LevelSummary{});
        nbtRow("lists nested as deep as the game allows", nested(512, true), LevelSummary{});
        nbtRow("compounds nested as deep as the game allows", nested(512, false), LevelSummary{});
        // Java's modified UTF-8, and the bytes a careless tool might write.
        const auto name = [&](const char* row_, std::string_view text, std::u16string expected) {
            LevelSummary summary;
            summary.name = std::move(expected);
            nbtRow(row_, data(Nbt().tag(8, "LevelName").string(text)), summary);
        };
        name("NUL as two bytes", "a\300\200b", u"a\0b"s);
        name("two and three bytes", "Gr\xc3\xb6\xc3\x9f \xe4\xb8\x96", u"Größ 世");
        name("surrogate pair", "\xed\xa0\xbd\xed\xb8\x80!", u"\U0001F600!");
        name("four-byte UTF-8", "\xf0\x9f\x98\x80", u"\U0001F600");
        name("malformed bytes", "\200a\344\270", u"\ufffda\ufffd\ufffd");

        std::string badChecksum = gzip(valid);
        badChecksum[badChecksum.size() - 8] ^= 1;
        row("empty", "");
        row("not compressed", valid);
        row("compressed file cut short", gzip(valid).substr(0, 40));
        row("bad checksum", badChecksum);
        nbtRow("too big once decompressed",
               data(Nbt().tag(7, "a").number(std::int32_t{5 << 20}).raw(std::string(5 << 20, 0))));
        nbtRow("NBT cut short", valid.substr(0, valid.size() - 3));
        nbtRow("root not a compound", Nbt().tag(8, "").string("x").bytes);
        nbtRow("string past the end", data(Nbt().tag(8, "LevelName").number(uint16_t{99})));
        nbtRow("negative array length", data(Nbt().tag(11, "a").number(-1)));
        nbtRow("array past the end", data(Nbt().tag(12, "a").number(std::int32_t{1 << 28})));
        nbtRow("list longer than the file",
               data(Nbt().tag(9, "a").number(std::uint8_t{3}).number(INT32_MAX)));
        nbtRow("list of End with items", data(Nbt().tag(9, "a").number(uint8_t{0}).number(1)));
        nbtRow("unknown tag", data(Nbt().tag(13, "a").number(0)));
        nbtRow("lists nested too deep", nested(513, true));
        nbtRow("compounds nested too deep", nested(513, false));
    }

    void readsTheFieldsOrNothing() {
        QFETCH(QByteArray, file);
        QFETCH(Read, expected);
        QCOMPARE(readLevelDat(file.toStdString()), expected);
    }

    // An instance is named from the start of its instance.cfg, however long the file; without a
    // name to use, by its folder.
    void readsTheInstanceName_data() {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QString>("name");
        const auto row = [](const char* name, const QByteArray& config, const QString& expected) {
            QTest::newRow(name) << config << expected;
        };
        const QByteArray comments(100 * 1024, ';');
        row("BOM, CRLF, blanks", "\xEF\xBB\xBF[General]\r\nname = Größe \r\n", "Größe");
        row("sections, last wins", "name=First\nname=Second\n[Other]\nname=No\n", "Second");
        row("quoted", "name=\" a, b; c \" ;note", "a, b; c");
        row("escapes", "name=\\\"Q\\\" \\\\ \\x4e2d\\x4E\\t\\xd800", "\"Q\" \\ 中N \uFFFD");
        row("escaped @", "name=@@home", "@home");
        row("serialised", "name=@Variant(\\0\\0)", "inst");
        row("controls only", "name=\" \\n\x01\"", "inst");
        row("too long", "name=" + QString(150, QChar(0xE9)).toUtf8(), QString(100, QChar(0xE9)));
        row("name, then 100 KiB", "name=Pack\n" + comments, "Pack");
        row("name past 64 KiB", comments + "\nname=Pack\n", "inst");
    }

    void readsTheInstanceName() {
        QFETCH(QByteArray, config);
        QFETCH(QString, name);
        QTemporaryDir dir;
        const fs::path instances = dir.path().toStdString();
        fs::create_directories(instances / "inst/minecraft/saves");
        writeFile(instances / "inst/instance.cfg", config.toStdString());
        PosixFileSystem files;
        const auto found = findSavesFolders(files, {{Launcher::Prism, instances.string(), true}});
        QCOMPARE(found.size(), std::size_t{1});
        QCOMPARE(QString::fromStdString(found[0].instanceName), name);
    }

    // The world a server.properties names, as the server's own reader finds it.
    void readsTheLevelName_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("world"); // null: no level-name entry
        const auto row = [](const char* name, std::string_view text, const char* world) {
            QTest::newRow(name) << QByteArray(text.data(), qsizetype(text.size()))
                                << (world ? QString::fromUtf8(world) : QString());
        };
        row("last wins, comments skipped",
            "#level-name=a\n ! level-name=b\nlevel-name=c\nlevel-name=d", "d");
        row("colon, blanks kept after", "  level-name :  My World  \r\n", "My World  ");
        row("blank as separator", "level-name\tw\n", "w");
        row("CR lines", "a=1\rlevel-name=y\rb=2", "y");
        row("continued over CRLF", "level-name=a\\\r\n   b\r\nc=1", "ab");
        row("escaped backslash ends", "level-name=a\\\\\nb=1\n", "a\\");
        row("escapes", "level\\-name=Caf\\u00e9 \\uD83C\\uDF0D\\t", "Café 🌍\t");
        row("bad escape kept", "level-name=\\u00zz", "u00zz");
        row("other keys only", "level-names=x\nlevel=name\n", nullptr);
        row("empty", "", nullptr);
    }

    void readsTheLevelName() {
        QFETCH(QByteArray, text);
        QFETCH(QString, world);
        const auto name = levelNameOf(text.toStdString());
        QCOMPARE(name ? QString::fromStdString(*name) : QString(), world);
    }

    // Only a regular file of at most the size asked for is read; a link is not followed.
    void readsBoundedRegularFiles() {
        QTemporaryDir scratch;
        const fs::path dir = scratch.path().toStdString();
        writeFile(dir / "file", "12345");
        fs::create_symlink("file", dir / "link");
        QCOMPARE(::mkfifo((dir / "fifo").c_str(), 0600), 0);
        const auto read = [&](const char* name, std::size_t max) {
            return PosixFileSystem().readFile((dir / name).string(), max).value_or("refused");
        };
        QCOMPARE(read("file", 5), "12345");
        QCOMPARE((std::vector{read("file", 4), read("link", 5), read("fifo", 5), read("nil", 5)}),
                 std::vector<std::string>(4, "refused"));
    }
};

QTEST_GUILESS_MAIN(ReadersTest)
#include "ReadersTest.moc"
