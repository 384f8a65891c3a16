#include "app/QtDialogs.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <stdexcept>
#include <thread>

using namespace Plovermantle;
using namespace std::chrono_literals;

class WorkProgressTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { Testing::isolateHome(); }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void showsProgressOnlyForLongWork_data() {
        QTest::addColumn<int>("workMs");
        QTest::newRow("quick: no dialog") << 300;
        // Runs until Cancel stops it; the time only bounds a failing run.
        QTest::newRow("long: a modal dialog whose Cancel stops the work") << 20000;
    }

    void showsProgressOnlyForLongWork() {
        QFETCH(int, workMs);
        const bool isLong = workMs > QtDialogs::progressDelayMs;
        // What the user saw of the dialog, once it showed progress; Cancel is pressed then.
        QString shown;
        int ticks = 0;
        // Were the main thread held up while the work runs, this would run at most once, after it.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            ++ticks;
            auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || !dialog->isVisible() || dialog->value() <= 0 ||
                !shown.isEmpty()) {
                return;
            }
            const bool modal = dialog->windowModality() == Qt::ApplicationModal;
            shown = dialog->labelText() + " | " + QString::number(dialog->value()) + "/1000" +
                    (modal ? ", modal" : "");
            const auto buttons = dialog->findChildren<QPushButton*>();
            if (buttons.size() == 1) {
                buttons.first()->click();
            }
        });
        poll.start(10);
        bool stopped = false;
        QElapsedTimer clock;
        clock.start();
        QtDialogs().runWithProgress("Copying “World”", [&](const WorkProgressReport& report) {
            while (!stopped && clock.elapsed() < workMs) {
                // Three of ten files and a quarter of the bytes.
                stopped = !report({3, 10, 1024 * 1024, 4 * 1024 * 1024});
                std::this_thread::sleep_for(5ms);
            }
        });
        QCOMPARE(stopped, isLong);
        QCOMPARE(shown,
                 isLong
                     ? QStringLiteral(
                           "Copying “World”\n3 of 10 files, 1.00 MiB of 4.00 MiB | 250/1000, modal")
                     : QString());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
    }

    void failureOfTheWorkReachesTheCaller() {
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 QtDialogs().runWithProgress("Copying", [](const auto&) {
                                     throw std::runtime_error("disk gone");
                                 }));
    }
};

QTEST_MAIN(WorkProgressTest)
#include "WorkProgressTest.moc"
