#pragma once

#include "platform/Dialogs.h"

#include <memory>

class QFileDialog;
class QMessageBox;
class QProgressDialog;
class QString;
class QWidget;

namespace Plovermantle {

// Alerts and the folder chooser as Qt widgets, modal over the application's active window.
class QtDialogs : public Dialogs {
public:
    int runAlert(const Alert& alert) override;
    std::optional<std::string> chooseFolder(const std::string& startFolder) override;
    std::optional<std::string> chooseFile(const std::string& startFolder,
                                          const std::string& patterns) override;
    void runWithProgress(const std::string& label, const ReportingWork& work) override;

    // The widgets exactly as runAlert and chooseFolder show them, so that they can be inspected.
    static std::unique_ptr<QMessageBox> makeAlert(const Alert& alert, QWidget* parent);
    static std::unique_ptr<QFileDialog> makeFolderChooser(QWidget* parent,
                                                          const std::string& startFolder = {});
    static std::unique_ptr<QProgressDialog> makeProgressDialog(const std::string& label,
                                                               QWidget* parent);
    // The progress dialog's text for `progress`.
    static QString describeProgress(const std::string& label, const WorkProgress& progress);

    // How wide an alert is at least, so that a sentence of some length fits on a line or two.
    static constexpr int minimumAlertWidth = 420;
    // How long work runs before its progress is shown.
    static constexpr int progressDelayMs = 500;
};

} // namespace Plovermantle
