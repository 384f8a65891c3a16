// The whole copy through the real window and real message boxes, as a user clicks through it.
#include "app/QtDialogs.h"
#include "settings/Settings.h"
#include "support/CopyScene.h"
#include "support/TestApp.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

using namespace Plovermantle;
using namespace Plovermantle::Testing;
namespace fs = std::filesystem;

namespace {

fs::path home;

// The real message boxes, each noted as the user sees it and answered by a click on the button a
// script names.
class ClickingDialogs : public QtDialogs {
public:
    int runAlert(const Alert& alert) override {
        QTimer::singleShot(0, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            Alert shown{{},
                        box->text().toStdString(),
                        box->informativeText().toStdString(),
                        box->icon() == QMessageBox::Warning ? AlertStyle::Warning
                                                            : AlertStyle::Informational};
            const QString answer = answers.isEmpty() ? QStringLiteral("OK") : answers.takeFirst();
            QAbstractButton* clicked = nullptr;
            for (QAbstractButton* button : box->buttons()) {
                if (box->standardButton(button) == QMessageBox::NoButton) {
                    shown.buttons.push_back(button->text().toStdString()); // not the platform's OK
                }
                clicked = button->text() == answer ? button : clicked;
            }
            seen.push_back(shown);
            QVERIFY(clicked != nullptr);
            QTest::mouseClick(clicked, Qt::LeftButton);
        });
        return QtDialogs::runAlert(alert);
    }

    QStringList answers;
    Alerts seen;
};

} // namespace

class CopyWindowTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { home = isolateHome(); }

private slots:
    // The menu's Copy answered Cancel changes nothing; the button's answered Replace puts the
    // world in place and points the server at it.
    void copiesThroughTheWindow() {
        const fs::path saves = savesFolderPath();
        const fs::path server = home / "Game Server";
        buildTree(saves / "Island", sampleWorld);
        buildTree(server, {"f:server.properties=level-name=world\n", "f:Island/level.dat=old"});
        TestApp<PosixFileSystem, ClickingDialogs> app;
        app.prefs.setString(serverPathConst(), server.string());
        app.dialogs.answers = {QStringLiteral("Cancel"), QStringLiteral("Replace")};
        app.window().show();
        app.launch();
        app.ui().worldList->setCurrentIndex(app.ui().worldList->findText(QStringLiteral("Island")));
        // The copy lock comes and goes, which changes only the server folder's own time.
        const auto contents = [&] {
            Snapshot items = snapshotTree(server);
            items.erase("");
            return items;
        };
        const Snapshot before = contents();

        app.ui().actionCopy->trigger();
        QCOMPARE(app.dialogs.seen, Alerts{worldExists});
        QCOMPARE(contents(), before);

        QTest::mouseClick(app.ui().copyButton, Qt::LeftButton);
        QCOMPARE(app.dialogs.seen, (Alerts{worldExists, worldExists, worldCopied}));
        QCOMPARE(snapshotTree(server / "Island"), snapshotTree(saves / "Island"));
        QCOMPARE(readFile(server / "server.properties"), std::string("level-name=Island\n"));
        QCOMPARE(readFile(server / "server.properties.backup"), std::string("level-name=world\n"));
        QCOMPARE(workingFoldersIn(server), std::vector<std::string>{});
    }
};

QTEST_MAIN(CopyWindowTest)
#include "CopyWindowTest.moc"
