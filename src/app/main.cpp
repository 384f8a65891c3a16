#include "app/AppInfo.h"
#include "app/MainController.h"
#include "app/MainInterface.h"
#include "app/QtDialogs.h"
#include "platform/PosixFileSystem.h"
#include "platform/QtPreferences.h"

#include <QApplication>
#include <QIcon>
#include <QMainWindow>
#include <QTimer>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Plovermantle"));
    QApplication::setApplicationName(QString::fromUtf8(Plovermantle::AppInfo::name));
    QApplication::setApplicationDisplayName(QString::fromUtf8(Plovermantle::AppInfo::name));
    QApplication::setApplicationVersion(QString::fromUtf8(Plovermantle::AppInfo::version));
    // Lets the desktop match the window to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QString::fromUtf8(Plovermantle::AppInfo::id));
    QApplication::setWindowIcon(QIcon::fromTheme(QString::fromUtf8(Plovermantle::AppInfo::id)));
#ifdef Q_OS_MACOS
    // A Mac app outlives its last window; elsewhere nothing would be left to reach it through.
    QApplication::setQuitOnLastWindowClosed(false);
#endif

    Plovermantle::PosixFileSystem files;
    Plovermantle::QtPreferences prefs;
    Plovermantle::QtDialogs dialogs;
    Plovermantle::MainInterface interface({files, prefs, dialogs});
    interface.window().show();
    QTimer::singleShot(0, &interface.controller(), &Plovermantle::MainController::start);
    QApplication::exec();
    return 0;
}
