#pragma once

#include "platform/ssh/SshDestination.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace Plovermantle {

class QtRemoteHostPrompts;

// The Host aliases of ~/.ssh/config under `home`, in order and once each. Patterns ("*", "?")
// and negations name no one host and are left out; Include is followed (relative to ~/.ssh, with
// its wildcards), a few levels deep, reading regular files only and only their first 256 KiB.
QStringList sshConfigHostAliases(const QString& home);

// "Another Computer (SSH)…": a host (an alias of ~/.ssh/config or any name), user, port and
// folder, with a way to walk the host's folders over SFTP.
class RemoteFolderDialog : public QDialog {
    Q_OBJECT
public:
    // `home` is the app's idea of home (QDir::homePath()): ~/.ssh is read there and only there.
    explicit RemoteFolderDialog(const QString& home, QWidget* parent = nullptr);
    ~RemoteFolderDialog() override;

    // Fills the fields from a destination, e.g. the server folder chosen before.
    void setDestination(const SshDestination& destination);
    // What the fields say; nothing while they do not make a valid destination.
    std::optional<SshDestination> destination() const;

    // Shows the dialog; the chosen destination as SshDestination::text() writes it, nothing when
    // cancelled. `current` is the server folder as remembered, used to fill the fields if remote.
    static std::optional<QString> choose(QWidget* parent, const QString& current);

private:
    void browse();
    void updateButtons();

    QString home_;
    std::unique_ptr<QtRemoteHostPrompts> prompts_;
    QComboBox* host_;
    QLineEdit* user_;
    QSpinBox* port_;
    QLineEdit* folder_;
    QPushButton* browse_;
    QPushButton* ok_;
};

} // namespace Plovermantle
