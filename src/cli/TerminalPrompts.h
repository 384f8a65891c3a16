#pragma once

#include "platform/RemoteHostPrompts.h"

#include <cstdio>
#include <unistd.h>

namespace Plovermantle {

// Asks the questions of a login on the terminal: secrets are read without echo, and only when
// the input is a terminal (a script's input is never taken for a password). A new host key is
// trusted only when the user said so on the command line. Nothing answered is kept.
class TerminalPrompts : public RemoteHostPrompts {
public:
    explicit TerminalPrompts(bool acceptNewHostKey, int input = STDIN_FILENO,
                             std::FILE* messages = stderr);

    bool trustNewHostKey(const std::string& host, const std::string& keyType,
                         const std::string& fingerprint) override;
    std::optional<std::string> passphrase(const std::string& keyFile) override;
    std::optional<std::string> password(const std::string& prompt) override;
    std::optional<std::vector<std::string>>
    keyboardInteractive(const std::string& name, const std::string& instruction,
                        const std::vector<KeyboardPrompt>& prompts) override;

    // Longer answers are cut here; the rest of the line is read and dropped.
    static constexpr std::size_t maxAnswerBytes = 1024;

private:
    // One line typed after `prompt`, echoed or not; nothing when the input is no terminal or ends.
    std::optional<std::string> ask(const std::string& prompt, bool echo);

    bool acceptNewHostKey_;
    int input_;
    std::FILE* messages_;
    bool declinedSaid_ = false;
};

} // namespace Plovermantle
