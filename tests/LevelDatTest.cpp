// level.dat: the fields the world list shows, read whatever else a valid file holds, and nothing
// at all from a malformed one.
#include "worlds/LevelDat.h"

#include "LevelDatWriter.h"
#include "support/TestSupport.h"

#include <QTest>

using namespace Plovermantle;
using namespace Plovermantle::LevelDatWriter;
using namespace std::literals;
using Testing::bytes;

Q_DECLARE_METATYPE(LevelSummary)

namespace {

// A root compound holding Data with `fields`.
std::string data(const Nbt& fields) {
    return Nbt().tag(10, "").tag(10, "Data").raw(fields.bytes).end().end().bytes;
}

// A root compound around `first`, then `each` `times` over, then `ends` zero bytes.
std::string nested(std::string_view first, std::string_view each, int times, int ends) {
    std::string nbt = "\x0a\0\0"s + std::string(first);
    for (int i = 0; i < times; ++i) {
        nbt += each;
    }
    return nbt + std::string(static_cast<std::size_t>(ends), '\0');
}
// `depth` lists, or compounds, each inside the one before.
std::string lists(int depth) {
    return nested("\x09\0\0"sv, "\x09\0\0\0\x01"sv, depth - 1, 6);
}
std::string compounds(int depth) {
    return nested({}, "\x0a\0\0"sv, depth, depth + 1);
}

} // namespace

class LevelDatTest : public QObject {
    Q_OBJECT

private slots:
    void readsTheFields_data() {
        QTest::addColumn<QByteArray>("nbt");
        QTest::addColumn<LevelSummary>("expected");
        const auto row = [](const char* name, const std::string& nbt, LevelSummary expected) {
            QTest::newRow(name) << bytes(nbt) << expected;
        };
        row("amid every other type", levelNbt("Island", 1700000000123, 1, false, "1.20.4"),
            {u"Island", 1700000000123, 1, false, u"1.20.4"});
        row("hardcore", levelNbt("H", -1, 0, true, ""), {u"H", -1, 0, true, u""});
        Nbt wrong;
        wrong.tag(3, "LevelName").number(5).tag(8, "GameType").string("1");
        wrong.tag(10, "Version").tag(3, "Name").number(1).end();
        row("fields of another type left out", data(wrong), {});
        row("fields outside Data left out",
            Nbt().tag(10, "").tag(8, "LevelName").string("x").end().bytes, {});
        row("lists nested as deep as the game allows", lists(512), {});
        row("compounds nested as deep as the game allows", compounds(512), {});
        // Java's modified UTF-8, and the bytes a careless tool might write.
        const auto name = [&](const char* row_, std::string_view text, std::u16string expected) {
            LevelSummary summary;
            summary.name = std::move(expected);
            row(row_, data(Nbt().tag(8, "LevelName").string(text)), summary);
        };
        name("NUL as two bytes", "a\300\200b", u"a\0b"s);
        name("two and three bytes", "Gr\xc3\xb6\xc3\x9f \xe4\xb8\x96", u"Größ 世");
        name("surrogate pair", "\xed\xa0\xbd\xed\xb8\x80!", u"\U0001F600!");
        name("four-byte UTF-8", "\xf0\x9f\x98\x80", u"\U0001F600");
        name("malformed bytes", "\200a\344\270", u"\ufffda\ufffd\ufffd");
    }

    void readsTheFields() {
        QFETCH(QByteArray, nbt);
        QFETCH(LevelSummary, expected);
        QCOMPARE(readLevelNbt(nbt.toStdString()), std::optional(expected));
        QCOMPARE(readLevelDat(gzip(nbt.toStdString())), std::optional(expected));
    }

    void refusesMalformedFiles_data() {
        QTest::addColumn<QByteArray>("file");
        const std::string valid = levelNbt("Island", 1, 1, false, "1.20.4");
        std::string badChecksum = gzip(valid);
        badChecksum[badChecksum.size() - 8] ^= 1;
        const auto row = [](const char* name, const std::string& file) {
            QTest::newRow(name) << bytes(file);
        };
        const auto nbtRow = [&](const char* name, const std::string& nbt) {
            row(name, gzip(nbt));
        };
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
        nbtRow("lists nested too deep", lists(513));
        nbtRow("compounds nested too deep", compounds(513));
    }

    void refusesMalformedFiles() {
        QFETCH(QByteArray, file);
        QCOMPARE(readLevelDat(file.toStdString()), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(LevelDatTest)
#include "LevelDatTest.moc"
