#include "app/AppDelegate.h"
#include "app/MainInterface.h"
#include "platform/PosixFileSystem.h"
#include "platform/QtDialogs.h"
#include "platform/QtPreferences.h"

#include <QApplication>
#include <QMainWindow>
#include <QTimer>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Plovermantle"));
    QApplication::setApplicationName(QStringLiteral("Plovermantle"));
    QApplication::setApplicationDisplayName(QStringLiteral("Plovermantle"));
#ifdef Q_OS_MACOS
    // A Mac app outlives its last window; elsewhere nothing would be left to reach it through.
    QApplication::setQuitOnLastWindowClosed(false);
#endif

    Plovermantle::PosixFileSystem files;
    Plovermantle::QtPreferences prefs;
    Plovermantle::QtDialogs dialogs;
    Plovermantle::MainInterface interface({files, prefs, dialogs});
    interface.window().show();
    QTimer::singleShot(0, &interface.delegate(),
                       &Plovermantle::AppDelegate::applicationDidFinishLaunching);
    QApplication::exec();
    return 0;
}
