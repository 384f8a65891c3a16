#include "platform/QtDialogs.h"

#include "support/TestSupport.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace Plovermantle;

namespace {

// Presses the button titled `title` on the alert once it is showing.
void pressWhenShown(const QString& title) {
    QTimer::singleShot(0, [title] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box != nullptr);
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == title) {
                button->click();
                return;
            }
        }
        box->reject();
    });
}

} // namespace

class QtDialogsTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { Testing::isolateHome(); }

private slots:
    void folderChooserPicksOneFolderAndCreatesNone() {
        const auto chooser = QtDialogs::makeFolderChooser(nullptr);
        QCOMPARE(chooser->fileMode(), QFileDialog::Directory);
        QVERIFY(chooser->testOption(QFileDialog::ShowDirsOnly));
        QVERIFY(chooser->testOption(QFileDialog::ReadOnly));
        QCOMPARE(chooser->windowModality(), Qt::ApplicationModal);
    }

    void alertShowsItsTextsAndButtons() {
        const Alert alert{
            {"Replace", "Cancel"}, "World exists!", "Do you want to replace?", AlertStyle::Warning};
        const auto box = QtDialogs::makeAlert(alert, nullptr);
        QCOMPARE(box->text(), QStringLiteral("World exists!"));
        QCOMPARE(box->informativeText(), QStringLiteral("Do you want to replace?"));
        QCOMPARE(box->icon(), QMessageBox::Warning);
        QCOMPARE(box->defaultButton()->text(), QStringLiteral("Replace"));
        QCOMPARE(box->escapeButton()->text(), QStringLiteral("Cancel"));
    }

    void runAlertAnswersByTheOrderButtonsWereAdded_data() {
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QString>("pressed");
        QTest::addColumn<int>("answer");
        QTest::newRow("first") << QStringList{"Replace", "Cancel"} << "Replace" << 1000;
        QTest::newRow("second") << QStringList{"Replace", "Cancel"} << "Cancel" << 1001;
        QTest::newRow("third") << QStringList{"A", "B", "C"} << "C" << 1002;
        QTest::newRow("default button only") << QStringList{} << "OK" << 1000;
        QTest::newRow("closed without a button")
            << QStringList{"Replace", "Cancel"} << "" << 1001; // Esc answers as the last button
    }

    void runAlertAnswersByTheOrderButtonsWereAdded() {
        QFETCH(QStringList, buttons);
        QFETCH(QString, pressed);
        QFETCH(int, answer);
        Alert alert{{}, "Message", "Details"};
        for (const QString& title : buttons) {
            alert.buttons.push_back(title.toStdString());
        }
        if (pressed.isEmpty()) {
            QTimer::singleShot(
                0, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape); });
        } else {
            pressWhenShown(pressed);
        }
        QtDialogs dialogs;
        QCOMPARE(dialogs.runAlert(alert), answer);
    }
};

QTEST_MAIN(QtDialogsTest)
#include "QtDialogsTest.moc"
