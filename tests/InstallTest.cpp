// Installs the build into a temporary prefix, as `cmake --install` does for a user or a package,
// and checks that a desktop can find, start, show and describe what was installed.
#include "app/AppInfo.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>
#include <optional>

namespace {

const QString appId = QString::fromUtf8(Plovermantle::AppInfo::id);
const QString desktopEntry = "share/applications/" + appId + ".desktop";
const QString icon = "share/icons/hicolor/scalable/apps/" + appId + ".svg";
const QString metainfo = "share/metainfo/" + appId + ".metainfo.xml";
const QString program = QStringLiteral("bin/plovermantle");

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The keys of a desktop entry's main group; enough of the format for the keys read here.
QHash<QString, QString> desktopEntryKeys(const QByteArray& text) {
    QHash<QString, QString> keys;
    bool inMainGroup = false;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == QStringLiteral("[Desktop Entry]");
        } else if (inMainGroup && !line.startsWith('#') && line.contains('=')) {
            const qsizetype equals = line.indexOf('=');
            keys.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
        }
    }
    return keys;
}

// Each element of an XML document, as "parent/child" paths, with its text and attributes.
struct XmlElement {
    QString path;
    QString text;
    QXmlStreamAttributes attributes;
};

std::optional<QList<XmlElement>> xmlElements(const QByteArray& document) {
    QList<XmlElement> elements;
    QStringList stack;
    QXmlStreamReader reader(document);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            stack << reader.name().toString();
            elements.append({stack.join('/'), QString(), reader.attributes()});
        } else if (reader.isCharacters() && !stack.isEmpty() && !elements.isEmpty() &&
                   elements.last().path == stack.join('/')) {
            elements.last().text += reader.text().toString().trimmed();
        } else if (reader.isEndElement()) {
            stack.removeLast();
        }
    }
    if (reader.hasError()) {
        return std::nullopt;
    }
    return elements;
}

QStringList textsAt(const QList<XmlElement>& elements, const QString& path) {
    QStringList texts;
    for (const XmlElement& element : elements) {
        if (element.path == path) {
            texts << element.text;
        }
    }
    return texts;
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
        const QHash<QString, QString> keys = desktopEntryKeys(readAll(path(desktopEntry)));
        QCOMPARE(keys.value("Type"), QStringLiteral("Application"));
        QCOMPARE(keys.value("Name"), QString::fromUtf8(Plovermantle::AppInfo::name));
        // The menu finds the program on PATH, in the prefix's bin folder.
        const QString command = keys.value("Exec").section(' ', 0, 0);
        QVERIFY2(!command.contains('/'), qPrintable(command));
        QVERIFY2(QFileInfo(path("bin/" + command)).isExecutable(), qPrintable(command));
        // The icon is looked up by name in the icon theme.
        QCOMPARE(keys.value("Icon"), appId);
        const QStringList categories = keys.value("Categories").split(';', Qt::SkipEmptyParts);
        QVERIFY(categories.contains("Game"));
    }

    void metainfoDescribesThisReleaseAndItsEntry() {
        const QByteArray text = readAll(path(metainfo));
        QVERIFY2(!text.contains('@'), "a placeholder was left unconfigured");
        const std::optional<QList<XmlElement>> elements = xmlElements(text);
        QVERIFY(elements.has_value());

        QCOMPARE(textsAt(*elements, "component/id"), QStringList{appId});
        QCOMPARE(textsAt(*elements, "component/name"),
                 QStringList{QString::fromUtf8(Plovermantle::AppInfo::name)});
        QCOMPARE(textsAt(*elements, "component/launchable"),
                 QStringList{QFileInfo(desktopEntry).fileName()});
        QCOMPARE(textsAt(*elements, "component/provides/binary"),
                 QStringList{QFileInfo(program).fileName()});

        QStringList releases;
        for (const XmlElement& element : *elements) {
            if (element.path == "component/releases/release") {
                releases << element.attributes.value("version").toString();
            }
        }
        QVERIFY(!releases.isEmpty());
        // The newest release comes first; it is the version being installed.
        QCOMPARE(releases.first(), QString::fromUtf8(Plovermantle::AppInfo::version));
    }

    void iconIsASquareSvgDocument() {
        const std::optional<QList<XmlElement>> elements = xmlElements(readAll(path(icon)));
        QVERIFY(elements.has_value());
        QVERIFY(!elements->isEmpty());
        QCOMPARE(elements->first().path, QStringLiteral("svg"));
        const QStringList viewBox =
            elements->first().attributes.value("viewBox").toString().split(' ');
        QCOMPARE(viewBox.size(), 4);
        QCOMPARE(viewBox[2], viewBox[3]);
    }

    // The same validators that software centres and distributions run.
    void validatorsAcceptTheInstalledFiles_data() {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("desktop entry")
            << QStringLiteral("desktop-file-validate") << QStringList{path(desktopEntry)};
        QTest::newRow("metainfo") << QStringLiteral("appstreamcli")
                                  << QStringList{"validate", "--no-net", path(metainfo)};
    }

    void validatorsAcceptTheInstalledFiles() {
        QFETCH(QString, tool);
        QFETCH(QStringList, arguments);
        const QString executable = QStandardPaths::findExecutable(tool);
        if (executable.isEmpty()) {
            QSKIP(qPrintable(tool + " is not installed (./scripts/test installs it)"));
        }
        QProcess validator;
        validator.setProcessChannelMode(QProcess::MergedChannels);
        validator.start(executable, arguments);
        QVERIFY(validator.waitForFinished(60000));
        const QByteArray output = validator.readAll();
        QVERIFY2(validator.exitStatus() == QProcess::NormalExit && validator.exitCode() == 0,
                 output.constData());
    }

private:
    QString path(const QString& relative) const { return prefix.filePath(relative); }

    QTemporaryDir prefix;
};

QTEST_GUILESS_MAIN(InstallTest)
#include "InstallTest.moc"
