// Starts the app as main() does and prints, as wall-clock seconds since the epoch, when its window
// was on screen with the world list filled (shown=) and when every world in the list showed what
// could be read of it (decorated=), then quits. ./scripts/bench-launch subtracts the time it
// started the process at. It also prints how long the launch sequence itself took (launch=), the
// part of the start that the number of worlds changes and the least disturbed by a busy machine.

#include "app/AppDelegate.h"
#include "app/MainInterface.h"
#include "app/WorldList.h"
#include "platform/PosixFileSystem.h"
#include "platform/QtDialogs.h"
#include "platform/QtPreferences.h"

#include <QApplication>
#include <QComboBox>
#include <QMainWindow>
#include <QTimer>
#include <QWindow>
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
    QTimer::singleShot(0, &interface.delegate(), [&] {
        const double start = now();
        interface.delegate().applicationDidFinishLaunching();
        launch = now() - start;
    });

    double shown = 0;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const WorldList* worlds = interface.delegate().worlds();
        if (shown == 0 && worlds != nullptr && interface.window().windowHandle()->isExposed()) {
            shown = now();
        }
        if (shown != 0 && worlds->isComplete()) {
            std::printf("shown=%.6f decorated=%.6f worlds=%d launch=%.6f\n", shown, now(),
                        interface.delegate().worldList()->count(), launch);
            QApplication::quit();
        }
    });
    poll.start();
    return QApplication::exec();
}
