#include "cli/TerminalPrompts.h"

#include "platform/ServerText.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <termios.h>

namespace Plovermantle {

namespace {

// The terminal's settings while echo is off, put back if a signal ends the program meanwhile:
// otherwise the shell it returns to would not show what the user types. Stopping (Ctrl-Z) is left
// alone: the shell keeps a stopped job's terminal settings, and restoring echo here would show
// the rest of the secret once the job went on.
std::atomic<int> echoOffTerminal = -1;
termios savedTerminal{};

extern "C" void restoreEchoAndRaise(int signal) {
    const int fd = echoOffTerminal.exchange(-1);
    if (fd >= 0) {
        ::tcsetattr(fd, TCSAFLUSH, &savedTerminal);
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

constexpr int endingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

class EchoOff {
public:
    explicit EchoOff(int fd) {
        termios quiet{};
        if (::tcgetattr(fd, &savedTerminal) != 0) {
            return;
        }
        quiet = savedTerminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= static_cast<tcflag_t>(ECHONL);
        struct sigaction action {};
        action.sa_handler = restoreEchoAndRaise;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(endingSignals); ++i) {
            ::sigaction(endingSignals[i], &action, &previous_[i]);
        }
        echoOffTerminal = fd;
        fd_ = fd;
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    ~EchoOff() {
        if (fd_ < 0) {
            return;
        }
        if (echoOffTerminal.exchange(-1) >= 0) {
            ::tcsetattr(fd_, TCSAFLUSH, &savedTerminal);
        }
        for (std::size_t i = 0; i < std::size(endingSignals); ++i) {
            ::sigaction(endingSignals[i], &previous_[i], nullptr);
        }
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    int fd_ = -1;
    struct sigaction previous_[std::size(endingSignals)]{};
};

} // namespace

TerminalPrompts::TerminalPrompts(bool acceptNewHostKey, int input, std::FILE* messages)
    : acceptNewHostKey_(acceptNewHostKey), input_(input), messages_(messages) {}

std::optional<std::string> TerminalPrompts::ask(const std::string& prompt, bool echo) {
    if (::isatty(input_) == 0) {
        if (!declinedSaid_) {
            std::fprintf(messages_,
                         "The host asks for a password or passphrase, but the input is not a "
                         "terminal to type it on. Use a key without a passphrase, or the SSH "
                         "agent.\n");
            declinedSaid_ = true;
        }
        return std::nullopt;
    }
    std::fprintf(messages_, "%s", printableServerText(prompt).c_str());
    std::fflush(messages_);
    std::optional<EchoOff> quiet;
    if (!echo) {
        quiet.emplace(input_);
    }
    std::string answer;
    for (;;) {
        char c = 0;
        const ssize_t got = ::read(input_, &c, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            // The input ended before a line: nothing was answered.
            if (!echo) {
                std::fprintf(messages_, "\n");
            }
            return std::nullopt;
        }
        if (c == '\n') {
            return answer;
        }
        if (answer.size() < maxAnswerBytes) {
            answer.push_back(c);
        }
    }
}

bool TerminalPrompts::trustNewHostKey(const std::string& host, const std::string& keyType,
                                      const std::string& fingerprint) {
    const std::string shown = printableServerText(host);
    const std::string key = printableServerText(keyType) + " key fingerprint is " +
                            printableServerText(fingerprint) + ".";
    if (acceptNewHostKey_) {
        std::fprintf(messages_,
                     "Trusting the new host '%s' as --accept-new-host-key asks: %s\n"
                     "Its key is added to known_hosts.\n",
                     shown.c_str(), key.c_str());
        return true;
    }
    std::fprintf(messages_,
                 "The authenticity of host '%s' can't be established.\n%s\n"
                 "Check the fingerprint with the host's administrator, then run again with "
                 "--accept-new-host-key to trust it.\n",
                 shown.c_str(), key.c_str());
    return false;
}

std::optional<std::string> TerminalPrompts::passphrase(const std::string& keyFile) {
    return ask("Enter passphrase for key '" + keyFile + "': ", false);
}

std::optional<std::string> TerminalPrompts::password(const std::string& prompt) {
    return ask(prompt + " ", false);
}

std::optional<std::vector<std::string>>
TerminalPrompts::keyboardInteractive(const std::string& name, const std::string& instruction,
                                     const std::vector<KeyboardPrompt>& prompts) {
    if (::isatty(input_) != 0) {
        for (const std::string& text : {name, instruction}) {
            if (!text.empty()) {
                std::fprintf(messages_, "%s\n", printableServerText(text).c_str());
            }
        }
    }
    std::vector<std::string> answers;
    for (const KeyboardPrompt& prompt : prompts) {
        std::optional<std::string> answer = ask(prompt.text, prompt.echo);
        if (!answer) {
            return std::nullopt;
        }
        answers.push_back(std::move(*answer));
    }
    return answers;
}

} // namespace Plovermantle
