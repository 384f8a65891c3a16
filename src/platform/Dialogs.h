#pragma once

#include "platform/Progress.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace Plovermantle {

enum class AlertStyle { Informational, Warning };

struct Alert {
    // Button titles in the order they are added; none gives the platform's single default button.
    std::vector<std::string> buttons{};
    std::string messageText{};
    std::string informativeText{};
    AlertStyle style = AlertStyle::Informational;
    // What exactly went wrong, for the curious and for support: shown only on request.
    std::string details{};

    bool operator==(const Alert&) const = default;
};

// What runAlert answers for the first button added; the next buttons count up from it.
inline constexpr int alertFirstButtonReturn = 1000;
// What runAlert answers when the alert was closed without any of its buttons.
inline constexpr int alertClosedReturn = 0;

using ReportingWork = std::function<void(const WorkProgressReport& report)>;

// The modal dialogs the logic shows. Each call blocks until the user answers.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // Shows the alert modally and answers which button closed it.
    virtual int runAlert(const Alert& alert) = 0;
    // Lets the user pick exactly one existing folder, starting in `startFolder`; nothing when they
    // cancel.
    virtual std::optional<std::string> chooseFolder(const std::string& startFolder) = 0;
    // Lets the user pick one existing file whose name matches `patterns` ("*.zip *.7z"), starting
    // in `startFolder`; nothing when they cancel, or where no file can be chosen.
    virtual std::optional<std::string> chooseFile(const std::string& /*startFolder*/,
                                                  const std::string& /*patterns*/) {
        return std::nullopt;
    }
    // Runs `work` to its end while the window keeps repainting. Work that lasts longer than about
    // half a second shows a modal dialog with `label`, the files and bytes done of the total and a
    // Cancel button; once Cancel is pressed, the report answers false. What the user does before
    // the dialog shows is handled after the work has ended. `work` may run on another thread: it
    // must not touch widgets or show dialogs.
    virtual void runWithProgress(const std::string& label, const ReportingWork& work) = 0;
};

} // namespace Plovermantle
