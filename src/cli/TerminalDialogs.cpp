#include "cli/TerminalDialogs.h"

#include "worlds/Messages.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <termios.h>
#include <unistd.h>

namespace Plovermantle::Cli {

volatile std::sig_atomic_t stopRequested = 0;

namespace {

// The first signal stops the copy cleanly; a second one, for a user who will not wait, ends the
// program at once (the next copy into the folder cleans up after it).
extern "C" void requestStop(int signal) {
    if (stopRequested != 0) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    stopRequested = 1;
}

std::string megabytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

} // namespace

void catchStopSignals() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

std::string alertText(const Alert& alert) {
    std::string text = alert.messageText + ": " + alert.informativeText + "\n";
    if (!alert.details.empty()) {
        text += alert.details + "\n";
    }
    return text;
}

TerminalDialogs::TerminalDialogs(bool replace) : replace_(replace) {}

int TerminalDialogs::runAlert(const Alert& alert) {
    std::cerr << alertText(alert) << std::flush;
    int answer = alertFirstButtonReturn;
    if (!alert.buttons.empty()) {
        // The last button is the way out (Cancel); only "World exists!" has a flag to say yes.
        const bool yes = replace_ && alert.messageText == Messages::worldExists.messageText;
        answer = alertFirstButtonReturn + (yes ? 0 : static_cast<int>(alert.buttons.size()) - 1);
    }
    shown.emplace_back(alert, answer);
    return answer;
}

std::optional<std::string> TerminalDialogs::chooseFolder(const std::string& /*startFolder*/) {
    return std::nullopt; // folders are given on the command line
}

void TerminalDialogs::runWithProgress(const std::string& label, const ReportingWork& work) {
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    auto last = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    bool shownLine = false;
    work([&](const WorkProgress& progress) {
        const auto now = std::chrono::steady_clock::now();
        if (terminal && now - last >= std::chrono::milliseconds(100)) {
            last = now;
            shownLine = true;
            std::cerr << "\r\033[K" << label << ": " << progress.filesDone << " of "
                      << progress.filesTotal << " files, " << megabytes(progress.bytesDone)
                      << " of " << megabytes(progress.bytesTotal) << std::flush;
        }
        stopped = stopped || stopRequested != 0;
        return !stopped;
    });
    if (shownLine) {
        std::cerr << "\r\033[K" << std::flush;
    }
}

std::optional<std::string> TerminalDialogs::askSecret(const std::string& prompt) {
    if (::isatty(STDIN_FILENO) != 1) {
        return std::nullopt;
    }
    termios saved{};
    if (::tcgetattr(STDIN_FILENO, &saved) != 0) {
        return std::nullopt;
    }
    termios silent = saved;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    std::cerr << prompt << std::flush;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    std::string secret;
    const bool read = static_cast<bool>(std::getline(std::cin, secret));
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::cerr << "\n";
    return read ? std::optional(secret) : std::nullopt;
}

} // namespace Plovermantle::Cli
