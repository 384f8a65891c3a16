#pragma once

#include "platform/Dialogs.h"

#include <csignal>
#include <optional>
#include <string>
#include <vector>

namespace Plovermantle::Cli {

// Set by SIGINT and SIGTERM: the copy under way stops as if Cancel had been pressed.
extern volatile std::sig_atomic_t stopRequested;
// Installs the handlers that set stopRequested.
void catchStopSignals();

// The dialogs of a terminal: alerts are printed on standard error, questions are answered by the
// command line, and progress is one line that updates itself, shown only on a terminal.
class TerminalDialogs : public Dialogs {
public:
    // `replace` answers "World exists!"; every other question is answered by its way out.
    explicit TerminalDialogs(bool replace);

    int runAlert(const Alert& alert) override;
    std::optional<std::string> chooseFolder(const std::string& startFolder) override;
    void runWithProgress(const std::string& label, const ReportingWork& work) override;

    bool replaces() const { return replace_; }

    // A secret typed on the terminal without echo; nothing when standard input is no terminal.
    static std::optional<std::string> askSecret(const std::string& prompt);

    // Every alert shown, in order, and what each was answered.
    std::vector<std::pair<Alert, int>> shown;
    // Whether work run with progress was told to stop.
    bool stopped = false;

private:
    bool replace_;
};

// "message: informative" and, when there are details, them on the next line.
std::string alertText(const Alert& alert);

} // namespace Plovermantle::Cli
