#pragma once

#include "platform/RemoteHostPrompts.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace Plovermantle {

// Asks the questions of a login with dialogs. Made on the GUI thread; callable from any thread
// (the connection is made off the GUI thread): each question is shown on the GUI thread while the
// caller waits for the answer, so the GUI thread must keep running its event loop meanwhile (a
// progress dialog does) and this object must outlive the worker. Nothing answered is kept.
class QtRemoteHostPrompts : public RemoteHostPrompts {
public:
    explicit QtRemoteHostPrompts(QWidget* parent = nullptr);

    bool trustNewHostKey(const std::string& host, const std::string& keyType,
                         const std::string& fingerprint) override;
    std::optional<std::string> passphrase(const std::string& keyFile) override;
    std::optional<std::string> password(const std::string& prompt) override;
    std::optional<std::vector<std::string>>
    keyboardInteractive(const std::string& name, const std::string& instruction,
                        const std::vector<KeyboardPrompt>& prompts) override;

    // More questions than this in one keyboard-interactive round are declined: no real login
    // asks for them, and a dialog of them would not fit on a screen.
    static constexpr std::size_t maxKeyboardPrompts = 16;

private:
    QPointer<QWidget> parent_;
    QObject guiThread_; // lives on the thread that made this, where dialogs are shown
};

} // namespace Plovermantle
