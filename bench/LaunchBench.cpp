// Starts the app as main() does and prints, as wall-clock seconds since the epoch, when its window
// was on screen with the world list filled (shown=) and when every world in the list showed what
// could be read of it (decorated=), then quits. ./scripts/bench-launch subtracts the time it
// started the process at. It also prints how long the launch sequence itself took (launch=), the
// part of the start that the number of worlds changes and the least disturbed by a busy machine.

#include "app/MainController.h"
#include "app/MainInterface.h"
#include "app/QtDialogs.h"
#include "app/WorldList.h"
#include "platform/PosixFileSystem.h"
#include "platform/QtPreferences.h"

#include <QApplication>
#include <QComboBox>
#include <QMainWindow>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

double now() {
    timespec time{};
    clock_gettime(CLOCK_REALTIME, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char* argv[]) {
    using namespace Plovermantle;
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Plovermantle"));
    QApplication::setApplicationName(QStringLiteral("Plovermantle"));
    PosixFileSystem files;
    QtPreferences prefs;
    QtDialogs dialogs;
    MainInterface interface({files, prefs, dialogs});
    interface.window().show();
    double launch = 0;
    QTimer::singleShot(0, &interface.controller(), [&] {
        const double start = now();
        interface.controller().start();
        launch = now() - start;
    });

    // Then the same list read again, as View > Refresh does: how long the window is held up at
    // once (refresh=) and the longest it goes without handling events till all is read (stall=).
    double shown = 0, decorated = 0, refresh = 0, stall = 0, tick = 0;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        WorldList* worlds = interface.controller().worlds();
        const double at = now();
        if (decorated != 0) {
            stall = std::max(stall, at - tick);
        }
        tick = at;
        if (shown == 0 && worlds != nullptr && interface.window().windowHandle()->isExposed()) {
            shown = at;
        }
        if (shown == 0 || !worlds->isComplete()) {
            return;
        }
        if (decorated == 0) {
            decorated = at;
            worlds->refresh();
            refresh = now() - at;
            tick = now();
            return;
        }
        std::printf("shown=%.6f decorated=%.6f worlds=%d launch=%.6f refresh=%.6f stall=%.6f\n",
                    shown, decorated, worlds->count(), launch, refresh, stall);
        QApplication::quit();
    });
    poll.start();
    return QApplication::exec();
}
