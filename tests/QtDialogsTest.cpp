#include "app/QtDialogs.h"

#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

using namespace Plovermantle;

class QtDialogsTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { Testing::isolateHome(); }

private slots:
    // The chooser the app shows: one existing folder, never a file, and no way to make a folder.
    void folderChooserPicksOneFolderAndCreatesNone() {
        const auto chooser = QtDialogs::makeFolderChooser(nullptr);
        QCOMPARE(chooser->fileMode(), QFileDialog::Directory);
        QVERIFY(chooser->testOption(QFileDialog::ShowDirsOnly));
        QVERIFY(chooser->testOption(QFileDialog::ReadOnly));
    }

    // The buttons are answered in the order they were added, whatever order the platform shows
    // them in; Esc answers as the last one, the way out.
    void runAlertShowsItsTextsAndAnswersTheButtonPressed_data() {
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QString>("pressed"); // Esc when no button has this title
        QTest::addColumn<int>("answer");
        QTest::newRow("first") << QStringList{"Replace", "Cancel"} << "Replace" << 1000;
        QTest::newRow("default button only") << QStringList{} << "OK" << 1000;
        QTest::newRow("Esc") << QStringList{"Replace", "Cancel"} << "" << 1001;
    }

    void runAlertShowsItsTextsAndAnswersTheButtonPressed() {
        QFETCH(QStringList, buttons);
        QFETCH(QString, pressed);
        QFETCH(int, answer);
        Alert alert{{}, "World exists!", "Do you want to replace?", AlertStyle::Warning};
        for (const QString& title : buttons) {
            alert.buttons.push_back(title.toStdString());
        }
        QString shown;
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = box->text() + '|' + box->informativeText();
                const QList<QAbstractButton*> shownButtons = box->buttons();
                const auto it = std::ranges::find(shownButtons, pressed, &QAbstractButton::text);
                it != shownButtons.end() ? (*it)->click() : QTest::keyClick(box, Qt::Key_Escape);
            }
        });
        QCOMPARE(QtDialogs().runAlert(alert), answer);
        QCOMPARE(shown, QStringLiteral("World exists!|Do you want to replace?"));
    }
};

QTEST_MAIN(QtDialogsTest)
#include "QtDialogsTest.moc"
