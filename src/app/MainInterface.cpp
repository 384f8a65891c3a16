#include "app/MainInterface.h"

#include "app/AboutBox.h"
#include "app/AppDelegate.h"
#include "app/AppInfo.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QKeySequence>
#include <QMainWindow>

namespace Plovermantle {

MainInterface::MainInterface(Platform platform)
    : window_(std::make_unique<QMainWindow>()), ui_(std::make_unique<Ui::MainWindow>()),
      delegate_(std::make_unique<AppDelegate>(platform)) {
    ui_->setupUi(window_.get());
    // Some platforms define no Quit keys (Windows, or no desktop at all): fall back to Ctrl+Q
    // there rather than leave Quit without a shortcut.
    const QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
    ui_->actionQuit->setShortcuts(quitKeys.isEmpty() ? QList{QKeySequence(Qt::CTRL | Qt::Key_Q)}
                                                     : quitKeys);

    delegate_->setWindow(window_.get());
    delegate_->setWorldList(ui_->worldList);
    delegate_->setTxtServerPath(ui_->txtServerPath);
    delegate_->setSavesFolderMenu(ui_->menuSavesFolder);

    QObject::connect(ui_->quitButton, &QPushButton::clicked, delegate_.get(), &AppDelegate::quit);
    QObject::connect(ui_->actionQuit, &QAction::triggered, delegate_.get(), &AppDelegate::quit);
    QObject::connect(ui_->copyButton, &QPushButton::clicked, delegate_.get(), &AppDelegate::copy);
    QObject::connect(ui_->actionCopy, &QAction::triggered, delegate_.get(), &AppDelegate::copy);
    QObject::connect(ui_->chooseServerButton, &QPushButton::clicked, delegate_.get(),
                     &AppDelegate::setServerPath);
    QObject::connect(ui_->actionChooseServer, &QAction::triggered, delegate_.get(),
                     &AppDelegate::setServerPath);
    // Looked for each time the menu opens: launchers and instances come and go while we run.
    QObject::connect(ui_->menuSavesFolder, &QMenu::aboutToShow, delegate_.get(),
                     &AppDelegate::listSavesFolders);
    QObject::connect(ui_->actionOtherSavesFolder, &QAction::triggered, delegate_.get(),
                     &AppDelegate::chooseSavesFolder);
    QObject::connect(ui_->actionRefresh, &QAction::triggered, delegate_.get(),
                     &AppDelegate::refreshWorldList);
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, delegate_.get(),
                     &AppDelegate::applicationWillTerminate);

    ui_->actionAbout->setText(
        QCoreApplication::translate("MainWindow", "&About %1").arg(AppInfo::name));
    QObject::connect(ui_->actionAbout, &QAction::triggered, window_.get(),
                     [window = window_.get()] { showAboutBox(window); });
    QObject::connect(ui_->actionAboutQt, &QAction::triggered, qApp, &QApplication::aboutQt);
}

MainInterface::~MainInterface() = default;

} // namespace Plovermantle
