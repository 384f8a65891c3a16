#pragma once

#include "platform/RemoteHostPrompts.h"

#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Plovermantle::Testing {

// Debian's sshd on 127.0.0.1 at a free port, with a host key made for the run and logins by the
// keys given. Nothing else is contacted.
class SshdFixture {
public:
    enum class Mode { Shell, SftpOnly };

    explicit SshdFixture(Mode mode);
    ~SshdFixture();

    // Starts it; empty on success, else why not.
    std::string start();
    int port() const { return port_; }
    // The host key's public line ("ssh-ed25519 AAAA…") and its fingerprint as ssh-keygen prints.
    std::string hostKeyLine() const;
    std::string hostKeyFingerprint() const;
    // Lets the key whose ".pub" file is at `publicKey` log in.
    void authorize(const std::string& publicKey);
    // Kills every process serving a connection, as a dropped network would end them.
    void killSessions();
    std::string log() const;

private:
    Mode mode_;
    QTemporaryDir dir_;
    QProcess sshd_;
    int port_ = 0;
};

// A socket bound to a free port of 127.0.0.1, listening when asked; `port` is 0 when it failed.
int loopbackSocket(bool listening, int& port);

// Runs a program to its end; its exit code, or -1 when it did not run.
int runProgram(const QString& program, const QStringList& arguments,
               const QStringList& environment = {}, QByteArray* output = nullptr);
// A new ed25519 key pair at `path` and `path`.pub.
bool makeKey(const std::string& path, const std::string& passphrase = {});

// Answers the connection's questions as the test says, and remembers what was asked.
class ScriptedPrompts : public RemoteHostPrompts {
public:
    bool trust = true;
    std::optional<std::string> passphraseAnswer;
    std::vector<std::string> asked; // "trust <host> <type> <fingerprint>", "passphrase <file>"

    bool trustNewHostKey(const std::string& host, const std::string& keyType,
                         const std::string& fingerprint) override {
        asked.push_back("trust " + host + ' ' + keyType + ' ' + fingerprint);
        return trust;
    }
    std::optional<std::string> passphrase(const std::string& keyFile) override {
        asked.push_back("passphrase " + keyFile);
        return passphraseAnswer;
    }
    std::optional<std::string> password(const std::string& prompt) override {
        asked.push_back("password " + prompt);
        return std::nullopt;
    }
    std::optional<std::vector<std::string>>
    keyboardInteractive(const std::string& name, const std::string& /*instruction*/,
                        const std::vector<KeyboardPrompt>& /*prompts*/) override {
        asked.push_back("keyboard " + name);
        return std::nullopt;
    }
};

} // namespace Plovermantle::Testing
