#pragma once

#include <optional>
#include <string>
#include <vector>

namespace Plovermantle {

// One question of a keyboard-interactive login, as the server words it.
struct KeyboardPrompt {
    std::string text;
    bool echo = false; // whether the answer may be shown as it is typed
};

// What connecting to another computer has to ask the user. The window answers with dialogs, the
// terminal on its own; nothing answered here is kept.
class RemoteHostPrompts {
public:
    virtual ~RemoteHostPrompts() = default;

    // A host never trusted before: its key type ("ED25519") and fingerprint ("SHA256:…") as ssh
    // prints them. True to trust it from now on.
    virtual bool trustNewHostKey(const std::string& host, const std::string& keyType,
                                 const std::string& fingerprint) = 0;
    // The passphrase of the private key file at `keyFile`; nothing when the user declines.
    virtual std::optional<std::string> passphrase(const std::string& keyFile) = 0;
    // The account's password on the host; `prompt` names who asks.
    virtual std::optional<std::string> password(const std::string& prompt) = 0;
    // One answer per prompt, in order; nothing when the user declines.
    virtual std::optional<std::vector<std::string>>
    keyboardInteractive(const std::string& name, const std::string& instruction,
                        const std::vector<KeyboardPrompt>& prompts) = 0;
};

} // namespace Plovermantle
