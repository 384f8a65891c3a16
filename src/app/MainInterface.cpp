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

    controller_->setWindow(window_.get());
    controller_->setWorldList(ui_->worldList);
    controller_->setServerFolderEdit(ui_->serverFolderEdit);
    controller_->setSavesFolderMenu(ui_->menuSavesFolder);

    QObject::connect(ui_->quitButton, &QPushButton::clicked, controller_.get(),
                     &MainController::quit);
    QObject::connect(ui_->actionQuit, &QAction::triggered, controller_.get(),
                     &MainController::quit);
    QObject::connect(ui_->copyButton, &QPushButton::clicked, controller_.get(),
                     &MainController::copy);
    QObject::connect(ui_->actionCopy, &QAction::triggered, controller_.get(),
                     &MainController::copy);
    QObject::connect(ui_->chooseServerButton, &QPushButton::clicked, controller_.get(),
                     &MainController::chooseServerFolder);
    QObject::connect(ui_->actionChooseServer, &QAction::triggered, controller_.get(),
                     &MainController::chooseServerFolder);
    // Looked for each time the menu opens: launchers and instances come and go while we run.
    QObject::connect(ui_->menuSavesFolder, &QMenu::aboutToShow, controller_.get(),
                     &MainController::listSavesFolders);
    QObject::connect(ui_->actionOtherSavesFolder, &QAction::triggered, controller_.get(),
                     &MainController::chooseSavesFolder);
    QObject::connect(ui_->actionRefresh, &QAction::triggered, controller_.get(),
                     &MainController::refreshWorldList);

    ui_->actionAbout->setText(
        QCoreApplication::translate("MainWindow", "&About %1").arg(AppInfo::name));
    QObject::connect(ui_->actionAbout, &QAction::triggered, window_.get(),
                     [window = window_.get()] { showAboutBox(window); });
    QObject::connect(ui_->actionAboutQt, &QAction::triggered, qApp, &QApplication::aboutQt);
}

MainInterface::~MainInterface() = default;

} // namespace Plovermantle
