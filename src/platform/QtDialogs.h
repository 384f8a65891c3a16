#pragma once

#include "platform/Dialogs.h"

#include <memory>

class QFileDialog;
class QMessageBox;
class QWidget;

namespace Plovermantle {

// Alerts and the folder chooser as Qt widgets, modal over the application's active window.
class QtDialogs : public Dialogs {
public:
    int runAlert(const Alert& alert) override;
    std::optional<std::string> chooseFolder() override;

    // The widgets exactly as runAlert and chooseFolder show them, so that they can be inspected.
    static std::unique_ptr<QMessageBox> makeAlert(const Alert& alert, QWidget* parent);
    static std::unique_ptr<QFileDialog> makeFolderChooser(QWidget* parent);
};

} // namespace Plovermantle
