#include "app/MainInterface.h"

#include "app/AboutBox.h"
#include "app/AppInfo.h"
#include "app/MainController.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QKeySequence>
#include <QMainWindow>

namespace Plovermantle {

MainInterface::MainInterface(Platform platform)
    : window_(std::make_unique<QMainWindow>()), ui_(std::make_unique<Ui::MainWindow>()),
      controller_(std::make_unique<MainController>(platform)) {
    ui_->setupUi(window_.get());
    // Some platforms define no Quit keys (Windows, or no desktop at all): fall back to Ctrl+Q
    // there rather than leave Quit without a shortcut.
    const QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
    ui_->actionQuit->setShortcuts(quitKeys.isEmpty() ? QList{QKeySequence(Qt::CTRL | Qt::Key_Q)}
                                                     : quitKeys);
    controller_->attach(*window_, *ui_);

    ui_->actionAbout->setText(
        QCoreApplication::translate("MainWindow", "&About %1").arg(AppInfo::name));
    QObject::connect(ui_->actionAbout, &QAction::triggered, window_.get(),
                     [window = window_.get()] { showAboutBox(window); });
    QObject::connect(ui_->actionAboutQt, &QAction::triggered, qApp, &QApplication::aboutQt);
}

MainInterface::~MainInterface() = default;

} // namespace Plovermantle
