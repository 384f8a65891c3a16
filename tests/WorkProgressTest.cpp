#include "platform/QtDialogs.h"
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

namespace {

// Runs `check` on the main thread every few milliseconds, while work runs, until it answers true
// or the poller goes.
class Poller {
public:
    explicit Poller(std::function<bool()> check) : check_(std::move(check)) {
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
            if (check_()) {
                timer_.stop();
            }
        });
        timer_.start(10);
    }

private:
    std::function<bool()> check_;
    QTimer timer_;
};

QProgressDialog* shownProgressDialog() {
    auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
    return dialog != nullptr && dialog->isVisible() ? dialog : nullptr;
}

class PaintCounter : public QWidget {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};

} // namespace

class WorkProgressTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { Testing::isolateHome(); }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void quickWorkShowsNoDialog() {
        bool sawDialog = false;
        bool cancelled = false;
        const Poller poller([&] {
            sawDialog = sawDialog || QApplication::activeModalWidget() != nullptr;
            return false;
        });
        QtDialogs().runWithProgress("Copying", [&](const WorkProgressReport& report) {
            std::this_thread::sleep_for(150ms);
            cancelled = !report({1, 1, 10, 10});
        });
        QVERIFY(!sawDialog);
        QVERIFY(!cancelled);
    }

    void longWorkShowsProgressUntilCancelled() {
        QString shownText;
        int shownValue = -1;
        bool modal = false;
        const Poller poller([&] {
            QProgressDialog* dialog = shownProgressDialog();
            if (dialog == nullptr || dialog->value() <= 0) {
                return false;
            }
            shownText = dialog->labelText();
            shownValue = dialog->value();
            modal = dialog->windowModality() == Qt::ApplicationModal;
            const auto buttons = dialog->findChildren<QPushButton*>();
            if (buttons.size() == 1) {
                buttons.first()->click();
            }
            return true;
        });
        bool stopped = false;
        QElapsedTimer clock;
        clock.start();
        QtDialogs().runWithProgress("Copying “World”", [&](const WorkProgressReport& report) {
            // Three of ten files and a quarter of the bytes, until told to stop (or a timeout).
            const WorkProgress progress{3, 10, 1024 * 1024, 4 * 1024 * 1024};
            while (clock.elapsed() < 20000) {
                if (!report(progress)) {
                    stopped = true;
                    return;
                }
                std::this_thread::sleep_for(5ms);
            }
        });
        QVERIFY(stopped);
        QVERIFY(clock.elapsed() >= QtDialogs::progressDelayMs);
        QVERIFY(modal);
        QCOMPARE(shownText, QStringLiteral("Copying “World”\n3 of 10 files, 1.00 MiB of 4.00 MiB"));
        QCOMPARE(shownValue, 250);
        QCOMPARE(shownProgressDialog(), nullptr);
    }

    void dialogGoesWhenWorkEnds() {
        bool sawDialog = false;
        const Poller poller([&] {
            sawDialog = sawDialog || shownProgressDialog() != nullptr;
            return sawDialog;
        });
        bool cancelled = false;
        QtDialogs().runWithProgress("Copying", [&](const WorkProgressReport& report) {
            for (std::uint64_t file = 1; file <= 10 && !cancelled; ++file) {
                std::this_thread::sleep_for(90ms);
                cancelled = !report({file, 10, 0, 0});
            }
        });
        QVERIFY(sawDialog);
        QVERIFY(!cancelled);
        QCOMPARE(shownProgressDialog(), nullptr);
    }

    void windowKeepsRepainting() {
        PaintCounter window;
        window.resize(100, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const int before = window.paints;
        // Were the main thread held up, the timer would fire at most once, after the work.
        QTimer repaint;
        QObject::connect(&repaint, &QTimer::timeout, &window, [&] { window.repaint(); });
        repaint.start(20);
        QtDialogs().runWithProgress(
            "Copying", [](const WorkProgressReport&) { std::this_thread::sleep_for(300ms); });
        repaint.stop();
        QVERIFY2(window.paints - before >= 3, qPrintable(QString::number(window.paints - before)));
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
