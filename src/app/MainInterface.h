#pragma once

#include "platform/Platform.h"

#include <memory>

class QMainWindow;

namespace Ui {
class MainWindow;
}

namespace Plovermantle {

class MainController;

// Builds the main window from its Designer form, creates the controller and connects its outlets
// and the window's actions, the same way for the app and for tests.
class MainInterface {
public:
    explicit MainInterface(Platform platform);
    ~MainInterface();
    MainInterface(const MainInterface&) = delete;
    MainInterface& operator=(const MainInterface&) = delete;

    QMainWindow& window() { return *window_; }
    Ui::MainWindow& ui() { return *ui_; }
    MainController& controller() { return *controller_; }

private:
    std::unique_ptr<QMainWindow> window_;
    std::unique_ptr<Ui::MainWindow> ui_;
    std::unique_ptr<MainController> controller_;
};

} // namespace Plovermantle
