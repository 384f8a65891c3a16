// The Saves Folder menu: the launchers' usual places found in a fake home, a chosen folder listed,
// copied from and remembered over a restart; and the reading of an instance's untrusted name.
#include "settings/InstanceConfig.h"
#include "settings/Settings.h"
#include "support/TestApp.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <cstdlib>

using namespace Plovermantle;
namespace fs = std::filesystem;
using App = Testing::TestApp<>;

namespace {

fs::path home;

// The submenu as it opens: each item's text, the checked one marked.
QStringList menuShown(App& app) {
    QMenu& menu = app.find<QMenu>("menuSavesFolder");
    emit menu.aboutToShow();
    QStringList shown;
    for (const QAction* item : menu.actions()) {
        shown << (item->isChecked() ? "[x] " : "") + item->text();
    }
    return shown;
}

QStringList worlds(App& app) {
    QStringList names;
    for (int i = 0; i < app.find<QComboBox>("worldList").count(); ++i) {
        names << app.find<QComboBox>("worldList").itemText(i);
    }
    return names;
}

} // namespace

class SavesFolderTest : public QObject {
    Q_OBJECT

public:
    static void initMain() {
        home = Testing::isolateHome();
        // Away from its default, so that a search that ignores it shows.
        ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    }

private slots:
    void findsTheLaunchersAndCopiesFromTheChosenOne() {
        const fs::path prism = home / "data/PrismLauncher/instances";
        const fs::path flatPrism =
            home / ".var/app/org.prismlauncher.PrismLauncher/data/PrismLauncher/instances/f";
        for (const fs::path& folder :
             {home / ".minecraft/saves/Home World",
              home / ".var/app/com.mojang.Minecraft/.minecraft/saves",
              prism / "a1/minecraft/saves/Island", prism / "b2/.minecraft/saves",
              prism / "No Config/minecraft/saves", prism / "Unplayed/minecraft",
              prism / "Zz Linked", flatPrism / "minecraft/saves", home / "server"}) {
            fs::create_directories(folder);
        }
        Testing::writeFile(prism / "a1/instance.cfg", "[General]\nname=Survival Größe 世界\n");
        Testing::writeFile(prism / "b2/instance.cfg", "name=\"Old & \\\"quoted\\\"\"\n");
        Testing::writeFile(prism / "Unplayed/instance.cfg", "name=Unplayed\n");
        Testing::writeFile(flatPrism / "instance.cfg", "name=Flat\n");
        fs::create_directory_symlink(prism / "a1/minecraft", prism / "Zz Linked/minecraft");
        Testing::writeFile(home / "server/server.properties", "level-name=world\n");

        App app;
        app.launch();
        const QString survival = "Prism Launcher: Survival Größe 世界";
        QCOMPARE(menuShown(app),
                 (QStringList{"[x] Game launcher", "Game launcher (Flatpak)",
                              "Prism Launcher: No Config", "Prism Launcher: Old && \"quoted\"",
                              survival, "Prism Launcher (Flatpak): Flat", "", "&Other Folder…"}));
        app.find<QMenu>("menuSavesFolder").actions().at(4)->trigger(); // the Survival instance
        QCOMPARE(worlds(app), QStringList{"Island"});
        QVERIFY(app.find<QComboBox>("worldList").toolTip().endsWith("a1/minecraft/saves"));
        app.dialogs.folderAnswers = {(home / "server").string()};
        app.find<QAction>("actionChooseServer").trigger();
        app.find<QComboBox>("worldList").setCurrentIndex(0);
        app.find<QAction>("actionCopy").trigger();
        QCOMPARE(app.dialogs.alerts, Testing::Alerts{Testing::worldCopied});
        QVERIFY(fs::is_directory(home / "server/Island"));

        const QString prefsFile = app.dir.filePath("prefs.ini");
        const auto restart = [&] {
            globalFullPath() = std::string();
            App restarted(prefsFile);
            restarted.launch();
            return std::pair(QString::fromStdString(globalFullPath().value_or("")),
                             worlds(restarted));
        };
        QCOMPARE(restart(),
                 std::pair(QString((prism / "a1/minecraft/saves").c_str()), QStringList{"Island"}));
        fs::remove_all(prism / "a1/minecraft");
        QCOMPARE(restart(),
                 std::pair(QString::fromStdString(savesFolderPath()), QStringList{"Home World"}));

        const fs::path other = home / "elsewhere";
        fs::create_directories(other / "Far World");
        app.dialogs.folderAnswers = {other.string()};
        app.find<QAction>("actionOtherSavesFolder").trigger();
        QCOMPARE(worlds(app), QStringList{"Far World"});
        QVERIFY(menuShown(app).contains("[x] " + QDir::toNativeSeparators(other.c_str())));
    }

    void readsTheInstanceName_data() {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QString>("name"); // empty when there is none to use
        QTest::newRow("BOM, CRLF, blanks")
            << QByteArray("\xEF\xBB\xBF[General]\r\nname = Größe \r\n") << "Größe";
        QTest::newRow("sections, last wins")
            << QByteArray("name=First\nname=Second\n[Other]\nname=No\n") << "Second";
        QTest::newRow("quoted") << QByteArray("name=\" a, b; c \" ;note") << "a, b; c";
        QTest::newRow("escapes") << QByteArray("name=\\\"Q\\\" \\\\ \\x4e2d\\x4E\\t\\xd800")
                                 << "\"Q\" \\ 中N \uFFFD";
        QTest::newRow("escaped @") << QByteArray("name=@@home") << "@home";
        QTest::newRow("serialised") << QByteArray("name=@Variant(\\0\\0)") << "";
        QTest::newRow("controls only") << QByteArray("name=\" \\n\x01\"") << "";
        QTest::newRow("too long") << "name=" + QString(150, QChar(0xE9)).toUtf8()
                                  << QString(100, QChar(0xE9));
    }

    void readsTheInstanceName() {
        QFETCH(QByteArray, config);
        QFETCH(QString, name);
        const auto read = instanceNameFromConfig(config.toStdString());
        QCOMPARE(QString::fromStdString(read.value_or("")), name);
        QCOMPARE(read.has_value(), !name.isEmpty());
    }
};

QTEST_MAIN(SavesFolderTest)
#include "SavesFolderTest.moc"
