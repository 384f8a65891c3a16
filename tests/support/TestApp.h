#pragma once

#include "app/MainController.h"
#include "app/MainInterface.h"
#include "platform/PosixFileSystem.h"
#include "platform/QtPreferences.h"
#include "support/TestSupport.h"

#include <QMainWindow>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

namespace Plovermantle::Testing {

// One run of the real window, built as the app builds it, with recorded dialogs and a settings
// file of its own; given an earlier run's settings file, it stands for a restart.
template <class Files = PosixFileSystem, class Recorder = RecordingDialogs> struct TestApp {
    explicit TestApp(const QString& prefsFile = {})
        : prefs(prefsFile.isEmpty() ? dir.filePath(QStringLiteral("prefs.ini")) : prefsFile),
          interface(platform()) {}

    Platform platform() { return {files, prefs, dialogs}; }
    void launch() { interface.controller().start(); }
    QMainWindow& window() { return interface.window(); }
    // The window's control of that object name; a wrong name fails the test, which goes on with a
    // stand-in control.
    template <class Control> Control& find(const char* name) {
        if (auto* control = window().template findChild<Control*>(QString::fromLatin1(name))) {
            return *control;
        }
        QTest::qFail(qPrintable(QStringLiteral("No control named %1").arg(QLatin1String(name))),
                     __FILE__, __LINE__);
        return static_cast<Control&>(*standIns.emplace_back(std::make_unique<Control>()));
    }

    QTemporaryDir dir;
    Files files;
    QtPreferences prefs;
    Recorder dialogs;
    MainInterface interface;
    std::vector<std::unique_ptr<QObject>> standIns;
};

} // namespace Plovermantle::Testing
