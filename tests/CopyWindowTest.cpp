// The whole copy through the real window and real message boxes, as a user clicks through it.
#include "platform/QtDialogs.h"
#include "settings/Settings.h"
#include "support/TestApp.h"

#include <QAbstractButton>
#include <QAction>
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
constexpr int replace = alertFirstButtonReturn;
constexpr int cancel = alertFirstButtonReturn + 1;

// The real message boxes, each noted as the user sees it with the answer it gave, and answered by
// a click on the button a script names, or by Esc.
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
            const auto escape = [box] {
                QTest::keyClick(box, Qt::Key_Escape);
            };
            for (QAbstractButton* button : box->buttons()) {
                if (box->standardButton(button) == QMessageBox::NoButton) {
                    shown.buttons.push_back(button->text().toStdString()); // not the platform's OK
                }
                clicked = button->text() == answer ? button : clicked;
            }
            seen.push_back(shown);
            clicked != nullptr ? QTest::mouseClick(clicked, Qt::LeftButton) : escape();
        });
        given.push_back(QtDialogs::runAlert(alert));
        return given.back();
    }

    QStringList answers;
    Alerts seen;
    std::vector<int> given;
};

} // namespace

class CopyWindowTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { home = isolateHome(); }

private slots:
    // The menu's Copy answered Esc changes nothing; the button's answered Replace puts the world
    // in place and points the server at it.
    void copiesThroughTheWindow() {
        const fs::path saves = savesFolderPath();
        const fs::path server = home / "Game Server";
        buildTree(saves / "Island", sampleWorld);
        buildTree(server, {"f:server.properties=level-name=world\n", "f:Island/level.dat=old"});
        TestApp<PosixFileSystem, ClickingDialogs> app;
        app.prefs.setString(serverPathConst(), server.string());
        app.dialogs.answers = {QStringLiteral("Esc"), QStringLiteral("Replace")};
        app.window().show();
        app.launch();
        auto& list = app.find<QComboBox>("worldList");
        list.setCurrentIndex(list.findText(QStringLiteral("Island")));
        const Snapshot before = snapshotTree(server);

        app.find<QAction>("actionCopy").trigger();
        QCOMPARE(app.dialogs.seen, Alerts{worldExists});
        QCOMPARE(snapshotTree(server), before);

        QTest::mouseClick(&app.find<QAbstractButton>("copyButton"), Qt::LeftButton);
        QCOMPARE(app.dialogs.seen, (Alerts{worldExists, worldExists, worldCopied}));
        // Esc answers as the last button; the others as the order they were given in.
        QCOMPARE(app.dialogs.given, (std::vector{cancel, replace, replace}));
        QCOMPARE(snapshotTree(server / "Island"), snapshotTree(saves / "Island"));
        QCOMPARE(readFile(server / "server.properties"), std::string("level-name=Island\n"));
        QCOMPARE(readFile(server / "server.properties.backup"), std::string("level-name=world\n"));
        QCOMPARE(entries(server), (std::vector<std::string>{"Island", "server.properties",
                                                            "server.properties.backup"}));
    }
};

QTEST_MAIN(CopyWindowTest)
#include "CopyWindowTest.moc"
