#include "settings/Settings.h"

#include "platform/QtPreferences.h"
#include "support/TestSupport.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace Plovermantle;

namespace {
std::filesystem::path home;
}

class SettingsTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { home = Testing::isolateHome(); }

private slots:
    // Must run first: nothing in this process has touched the module-level values yet.
    void pathsStartAsPresentEmptyStrings() {
        QVERIFY(globalFullPath().has_value());
        QCOMPARE(*globalFullPath(), std::string());
        QVERIFY(globalServerPath().has_value());
        QCOMPARE(*globalServerPath(), std::string());
        QCOMPARE(serverPathConst(), std::string("serverPathKey"));
    }

    void rememberedFolderSurvivesARestart_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("plain") << QStringLiteral("/srv/game");
        QTest::newRow("spaces and non-ASCII") << QStringLiteral("/home/me/My Server/Größe 世界");
        QTest::newRow("blanks kept") << QStringLiteral("  /srv/padded  ");
        QTest::newRow("folder long gone") << QStringLiteral("/no/such/folder/anymore");
        QTest::newRow("ini-special characters") << QStringLiteral("/srv/a=b;c,d\"e\\f[g]#h");
    }

    void rememberedFolderSurvivesARestart() {
        QFETCH(QString, path);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("prefs.ini"));
        {
            QtPreferences first(file);
            savePrefs(first, path.toStdString());
            QCOMPARE(getPrefs(first), path.toStdString());
        }
        QtPreferences afterRestart(file);
        QCOMPARE(getPrefs(afterRestart), path.toStdString());
    }

    void laterChoiceReplacesEarlier() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("prefs.ini"));
        QtPreferences prefs(file);
        savePrefs(prefs, "/first");
        savePrefs(prefs, "/second");
        QCOMPARE(getPrefs(prefs), std::string("/second"));
        QCOMPARE(getPrefs(*std::make_unique<QtPreferences>(file)), std::string("/second"));
    }

    void nothingUsableRemembered_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::newRow("absent") << QVariant();
        QTest::newRow("empty string") << QVariant(QString());
        QTest::newRow("a list") << QVariant(QStringList{"/a", "/b"});
        QTest::newRow("a number") << QVariant(42);
    }

    void nothingUsableRemembered() {
        QFETCH(QVariant, stored);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("prefs.ini"));
        if (stored.isValid()) {
            QSettings raw(file, QSettings::IniFormat);
            raw.setValue(QStringLiteral("serverPathKey"), stored);
        }
        QtPreferences prefs(file);
        QCOMPARE(getPrefs(prefs), std::string());
    }

    void savesFolderIsBelowTheUsersFolder() {
#ifdef Q_OS_MACOS
        QCOMPARE(getUserLib(), (home / "Library").string());
        const std::string expected = home.string() + "/Library/Application Support/minecraft/saves";
#else
        QCOMPARE(getUserLib(), home.string());
        const std::string expected = home.string() + "/.minecraft/saves";
#endif
        QCOMPARE(savesFolderPath(), expected);
        QVERIFY(!std::filesystem::exists(expected)); // computed, never created
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "SettingsTest.moc"
