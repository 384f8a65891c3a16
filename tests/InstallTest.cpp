// Installs the build into a temporary prefix, as `cmake --install` does for a user or a package,
// and checks that a desktop can find, start, show and describe what was installed.
#include "app/AppInfo.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString appId = QString::fromUtf8(Plovermantle::AppInfo::id);
const QString desktopEntry = "share/applications/" + appId + ".desktop";
const QString icon = "share/icons/hicolor/scalable/apps/" + appId + ".svg";
const QString metainfo = "share/metainfo/" + appId + ".metainfo.xml";
const QString program = QStringLiteral("bin/plovermantle");

// Runs `executable` to its end; what it printed explains a failure.
void runsCleanly(const QString& executable, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(executable, arguments);
    QVERIFY(process.waitForFinished(60000));
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
             process.readAll().constData());
}

} // namespace

class InstallTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(prefix.isValid());
        runsCleanly(
            QStringLiteral(PLOVERMANTLE_CMAKE_COMMAND),
            {"--install", QStringLiteral(PLOVERMANTLE_BUILD_DIR), "--prefix", prefix.path()});
    }

    // Nothing of the build (tests, libraries, headers) leaks into a user's system, and the menu
    // finds the program by name on PATH, in the prefix's bin folder.
    void installsTheAppsFilesAndNothingElse() {
        QStringList installed;
        QDirIterator it(prefix.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            installed << QDir(prefix.path()).relativeFilePath(it.next());
        }
        installed.sort();
        QCOMPARE(installed, (QStringList{program, desktopEntry, icon, metainfo}));
        const QSettings entry(path(desktopEntry), QSettings::IniFormat);
        QCOMPARE("bin/" + entry.value("Desktop Entry/Exec").toString(), program);
        QVERIFY(QFileInfo(path(program)).isExecutable());
        QCOMPARE(entry.value("Desktop Entry/Icon").toString(), appId);
    }

    // The same validators that software centres and distributions run.
    void validatorsAcceptTheInstalledFiles() {
        for (QStringList run :
             {QStringList{"desktop-file-validate", path(desktopEntry)},
              QStringList{"appstreamcli", "validate", "--no-net", path(metainfo)}}) {
            const QString executable = QStandardPaths::findExecutable(run.takeFirst());
            if (executable.isEmpty()) {
                QSKIP("a validator is missing (./scripts/test installs them)");
            }
            runsCleanly(executable, run);
        }
    }

private:
    QString path(const QString& relative) const { return prefix.filePath(relative); }

    QTemporaryDir prefix;
};

QTEST_GUILESS_MAIN(InstallTest)
#include "InstallTest.moc"
