// Installs the build into a temporary prefix, as `cmake --install` does for a user or a package,
// and checks that a desktop can find, start, show and describe what was installed.
#include "app/AppInfo.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString appId = QString::fromUtf8(Plovermantle::AppInfo::id);
const QString desktopEntry = "share/applications/" + appId + ".desktop";
const QString icon = "share/icons/hicolor/scalable/apps/" + appId + ".svg";
const QString metainfo = "share/metainfo/" + appId + ".metainfo.xml";
const QString program = QStringLiteral("bin/plovermantle");

// The value of `key` in a desktop entry; enough of the format for the keys read here.
QString desktopEntryValue(const QString& path, const QString& key) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QRegularExpression line("^" + key + "=(.*)$", QRegularExpression::MultilineOption);
    return line.match(QString::fromUtf8(file.readAll())).captured(1).trimmed();
}

} // namespace

class InstallTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(prefix.isValid());
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(
            QStringLiteral(PLOVERMANTLE_CMAKE_COMMAND),
            {"--install", QStringLiteral(PLOVERMANTLE_BUILD_DIR), "--prefix", prefix.path()});
        QVERIFY(install.waitForFinished(60000));
        QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
                 install.readAll().constData());
    }

    // Nothing of the build (tests, libraries, headers) leaks into a user's system.
    void installsTheAppsFilesAndNothingElse() {
        QStringList installed;
        QDirIterator it(prefix.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            installed << QDir(prefix.path()).relativeFilePath(it.next());
        }
        installed.sort();
        QStringList expected{program, desktopEntry, icon, metainfo};
        expected.sort();
        QCOMPARE(installed, expected);
        QVERIFY(QFileInfo(path(program)).isExecutable());
    }

    void desktopEntryStartsAndShowsTheInstalledApp() {
        // The menu finds the program on PATH, in the prefix's bin folder.
        const QString command = desktopEntryValue(path(desktopEntry), "Exec").section(' ', 0, 0);
        QVERIFY2(!command.contains('/'), qPrintable(command));
        QVERIFY2(QFileInfo(path("bin/" + command)).isExecutable(), qPrintable(command));
        // The icon is looked up by name in the icon theme.
        QCOMPARE(desktopEntryValue(path(desktopEntry), "Icon"), appId);
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
            QProcess validator;
            validator.setProcessChannelMode(QProcess::MergedChannels);
            validator.start(executable, run);
            QVERIFY(validator.waitForFinished(60000));
            QVERIFY2(validator.exitStatus() == QProcess::NormalExit && validator.exitCode() == 0,
                     validator.readAll().constData());
        }
    }

private:
    QString path(const QString& relative) const { return prefix.filePath(relative); }

    QTemporaryDir prefix;
};

QTEST_GUILESS_MAIN(InstallTest)
#include "InstallTest.moc"
