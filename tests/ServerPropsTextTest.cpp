#include "worlds/ServerProperties.h"

#include <QTest>
#include <string>

using namespace Plovermantle;
using namespace std::string_view_literals;

namespace {

QByteArray bytes(std::string_view text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

class ServerPropsTextTest : public QObject {
    Q_OBJECT

private slots:
    void rewritesLevelNameLines_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("world");
        QTest::addColumn<QByteArray>("expected");

        auto row = [](const char* name, const char* text, const char* world, const char* expected) {
            QTest::newRow(name) << QByteArray(text) << QByteArray(world) << QByteArray(expected);
        };

        // Which lines match.
        row("one line among others", "a=1\nlevel-name=old\nb=2\n", "Foo",
            "a=1\nlevel-name=Foo\nb=2\n");
        row("upper-case key", "LEVEL-NAME=Old\n", "Foo", "level-name=Foo\n");
        row("commented", "#level-name=old\n", "Foo", "level-name=Foo\n");
        row("indented", "   \tlevel-name=old\n", "Foo", "level-name=Foo\n");
        row("prefixed key", "xlevel-name=old\n", "Foo", "level-name=Foo\n");
        row("inside a value", "a=level-name=x\n", "Foo", "level-name=Foo\n");
        row("blank before equals", "level-name = old\n", "Foo", "level-name = old\n");
        row("underscore", "level_name=old\n", "Foo", "level_name=old\n");
        row("colon separator", "level-name:old\n", "Foo", "level-name:old\n");
        row("look-alike hyphen", "level\u2010name=old\n", "Foo", "level\u2010name=old\n");
        row("two matches, order kept", "level-name=a\nx=1\nLEVEL-NAME=b\ny=2", "Foo",
            "level-name=Foo\nx=1\nlevel-name=Foo\ny=2");
        row("no match, nothing added", "motd=hi\nb=2\n", "Foo", "motd=hi\nb=2\n");

        // Line ends and empty lines.
        row("empty text", "", "Foo", "");
        row("no final LF", "a=1\nlevel-name=old", "Foo", "a=1\nlevel-name=Foo");
        row("several final LFs", "level-name=old\n\n\n", "Foo", "level-name=Foo\n\n\n");
        row("empty lines kept", "\n\nlevel-name=old\n\nb=2\n", "Foo",
            "\n\nlevel-name=Foo\n\nb=2\n");
        row("CRLF: only the matching line loses its CR", "a=1\r\nlevel-name=old\r\nb=2\r\n", "Foo",
            "a=1\r\nlevel-name=Foo\nb=2\r\n");
        row("CR is not a line end", "a=1\rlevel-name=old\rb=2\n", "Foo", "level-name=Foo\n");

        // Names the server reads back as they are.
        row("blanks and equals", "level-name=x\n", "My = World", "level-name=My = World\n");
        row("non-ASCII", "level-name=x\n", "Welt Größe 世界 🌍", "level-name=Welt Größe 世界 🌍\n");
        row("trailing blank kept", "level-name=x\n", "World ", "level-name=World \n");

        // Names that need escaping.
        row("backslash", "level-name=x\n", "a\\b", "level-name=a\\\\b\n");
        row("trailing backslash", "level-name=x\nb=2\n", "World\\", "level-name=World\\\\\nb=2\n");
        row("line feed", "level-name=x\nb=2\n", "two\nlines", "level-name=two\\nlines\nb=2\n");
        row("carriage return", "level-name=x\n", "a\rb\r\n", "level-name=a\\rb\\r\\n\n");
        row("leading blanks", "level-name=x\n", "  World", "level-name=\\  World\n");
        row("leading tab", "level-name=x\n", "\tWorld", "level-name=\\\tWorld\n");
        row("leading form feed", "level-name=x\n", "\fWorld", "level-name=\\\fWorld\n");
        row("escaped on every match", "level-name=a\r\nLEVEL-NAME=b\n", " a\\",
            "level-name=\\ a\\\\\nlevel-name=\\ a\\\\\n");
    }

    void rewritesLevelNameLines() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, world);
        QFETCH(QByteArray, expected);
        QCOMPARE(bytes(rewriteServerPropsText(text.toStdString(), world.toStdString())), expected);
    }

    void keepsNulBytes() {
        QCOMPARE(bytes(rewriteServerPropsText("a=\0b\nlevel-name=x\0\n\0"sv, "W")),
                 bytes("a=\0b\nlevel-name=W\n\0"sv));
    }
};

QTEST_APPLESS_MAIN(ServerPropsTextTest)
#include "ServerPropsTextTest.moc"
