#pragma once

#include "app/MainController.h"
#include "app/MainInterface.h"
#include "platform/PosixFileSystem.h"
#include "platform/QtPreferences.h"
#include "support/TestSupport.h"

#include <QMainWindow>
#include <QTemporaryDir>
#include <stdexcept>

namespace Plovermantle::Testing {

// One run of the real window, built as the app builds it, with recorded dialogs and a settings
// file of its own; given an earlier run's settings file, it stands for a restart.
template <class Files = PosixFileSystem, class Recorder = RecordingDialogs> struct TestApp {
    explicit TestApp(const QString& prefsFile = {})
        : prefs(prefsFile.isEmpty() ? dir.filePath(QStringLiteral("prefs.ini")) : prefsFile),
          interface(Platform{files, prefs, dialogs}) {}

    MainController& controller() { return interface.controller(); }
    void launch() { controller().start(); }
    QMainWindow& window() { return interface.window(); }
    // The window's control of that object name; a wrong name fails the test with that name.
    template <class Control> Control& find(const char* name) {
        auto* control = window().template findChild<Control*>(QString::fromLatin1(name));
        return control != nullptr ? *control
                                  : throw std::invalid_argument(std::string("No control ") + name);
    }

    QTemporaryDir dir;
    Files files;
    QtPreferences prefs;
    Recorder dialogs;
    MainInterface interface;
};

} // namespace Plovermantle::Testing
