#include "app/MainInterface.h"

#include "app/AppDelegate.h"
#include "ui_MainWindow.h"

#include <QCoreApplication>
#include <QKeySequence>
#include <QMainWindow>

namespace Plovermantle {

MainInterface::MainInterface(Platform platform)
    : window_(std::make_unique<QMainWindow>()), ui_(std::make_unique<Ui::MainWindow>()),
      delegate_(std::make_unique<AppDelegate>(platform)) {
    ui_->setupUi(window_.get());
    ui_->actionQuit->setShortcuts(QKeySequence::Quit);

    delegate_->setWindow(window_.get());
    delegate_->setWorldList(ui_->worldList);
    delegate_->setTxtServerPath(ui_->txtServerPath);

    QObject::connect(ui_->quitButton, &QPushButton::clicked, delegate_.get(), &AppDelegate::quit);
    QObject::connect(ui_->actionQuit, &QAction::triggered, delegate_.get(), &AppDelegate::quit);
    QObject::connect(ui_->copyButton, &QPushButton::clicked, delegate_.get(), &AppDelegate::copy);
    QObject::connect(ui_->actionCopy, &QAction::triggered, delegate_.get(), &AppDelegate::copy);
    QObject::connect(ui_->chooseServerButton, &QPushButton::clicked, delegate_.get(),
                     &AppDelegate::setServerPath);
    QObject::connect(ui_->actionChooseServer, &QAction::triggered, delegate_.get(),
                     &AppDelegate::setServerPath);
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, delegate_.get(),
                     &AppDelegate::applicationWillTerminate);
}

MainInterface::~MainInterface() = default;

} // namespace Plovermantle
