#include "app/RemoteFolderDialog.h"

#include "app/QtRemoteHostPrompts.h"
#include "platform/ssh/SshConnection.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <functional>
#include <glob.h>
#include <libssh/sftp.h>

namespace Plovermantle {

namespace {

constexpr qint64 maxConfigBytes = 256 * 1024;
constexpr int maxIncludeDepth = 8;
constexpr int maxConfigFiles = 64;
constexpr int connectSeconds = 15;
constexpr std::size_t maxListed = 10000;

// The words of a config line, double quotes grouping; "Host=a b" splits like "Host a b".
QStringList configWords(const QString& line) {
    QStringList words;
    QString word;
    bool quoted = false;
    bool inWord = false;
    for (const QChar c : line) {
        if (c == u'"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c.isSpace() || (c == u'=' && words.isEmpty()))) {
            if (inWord) {
                words.append(word);
                word.clear();
                inWord = false;
            }
        } else {
            word.append(c);
            inWord = true;
        }
    }
    if (inWord) {
        words.append(word);
    }
    return words;
}

struct ConfigReader {
    QString home;
    QString sshDir;
    QStringList aliases;
    int filesRead = 0;

    void read(const QString& path, int depth) {
        const QFileInfo info(path);
        // A FIFO or a device would block or never end: regular files only.
        if (depth > maxIncludeDepth || ++filesRead > maxConfigFiles || !info.isFile()) {
            return;
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            return;
        }
        const QStringList lines = QString::fromUtf8(file.read(maxConfigBytes)).split(u'\n');
        for (const QString& line : lines) {
            const QString trimmed = line.trimmed();
            if (trimmed.isEmpty() || trimmed.startsWith(u'#')) {
                continue;
            }
            QStringList words = configWords(trimmed);
            if (words.isEmpty()) {
                continue;
            }
            const QString keyword = words.takeFirst().toLower();
            if (keyword == u"host") {
                for (const QString& name : words) {
                    if (name.startsWith(u'#')) {
                        break; // a comment after the names
                    }
                    if (name.contains(u'*') || name.contains(u'?') || name.startsWith(u'!') ||
                        name.startsWith(u'-') || name.contains(u' ') || aliases.contains(name)) {
                        continue;
                    }
                    aliases.append(name);
                }
            } else if (keyword == u"include") {
                for (const QString& pattern : words) {
                    include(pattern, depth);
                }
            }
        }
    }

    void include(QString pattern, int depth) {
        if (pattern.startsWith(u"~/")) {
            pattern = home + pattern.mid(1);
        } else if (!pattern.startsWith(u'/')) {
            pattern = sshDir + u'/' + pattern;
        }
        glob_t found{};
        if (::glob(QFile::encodeName(pattern).constData(), 0, nullptr, &found) == 0) {
            for (std::size_t i = 0; i < found.gl_pathc; ++i) {
                read(QFile::decodeName(found.gl_pathv[i]), depth + 1);
            }
        }
        ::globfree(&found);
    }
};

// Runs `work` off the GUI thread behind a progress dialog whose Cancel sets `cancel`; returns
// when the work has ended. The work is bounded in time by the connection's own limits.
void runWithProgress(QWidget* parent, const QString& label, std::atomic<bool>& cancel,
                     std::function<void()> work) {
    QProgressDialog progress(label, QObject::tr("Cancel"), 0, 0, parent);
    progress.setWindowModality(Qt::WindowModal);
    progress.setAutoClose(false);
    progress.setMinimumDuration(300);
    QObject::connect(&progress, &QProgressDialog::canceled, &progress, [&] {
        cancel = true;
        progress.setLabelText(QObject::tr("Cancelling…"));
        progress.show();
    });
    std::unique_ptr<QThread> thread(QThread::create(std::move(work)));
    QEventLoop loop;
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    loop.exec();
    thread->wait();
}

struct Listing {
    std::string path; // absolute, as the host resolved it
    std::vector<std::string> folders;
    std::string error;
};

// Why the last SFTP call failed, in words; the session's own error when the host gave no status.
std::string sftpReason(sftp_session sftp) {
    switch (sftp_get_error(sftp)) {
    case SSH_FX_NO_SUCH_FILE:
    case SSH_FX_NO_SUCH_PATH:
        return "there is no such folder";
    case SSH_FX_PERMISSION_DENIED:
        return "permission denied";
    default:
        return ssh_get_error(sftp->session);
    }
}

// The folders in `path` on the host (its home when empty), sorted, hidden ones left out.
Listing listFolders(SshConnection& connection, const std::string& path) {
    Listing listing;
    sftp_session sftp = connection.sftp();
    if (sftp == nullptr) {
        listing.error = "the host offers no SFTP: " + connection.lastError();
        return listing;
    }
    SshConnection::Watch watch(connection, connectSeconds);
    char* resolved = sftp_canonicalize_path(sftp, path.empty() ? "." : path.c_str());
    if (resolved == nullptr) {
        listing.error = "cannot open " + path + ": " + sftpReason(sftp);
        return listing;
    }
    listing.path = resolved;
    ssh_string_free_char(resolved);
    sftp_dir dir = sftp_opendir(sftp, listing.path.c_str());
    if (dir == nullptr) {
        listing.error = "cannot list " + listing.path + ": " + sftpReason(sftp);
        return listing;
    }
    const std::string prefix = listing.path == "/" ? "/" : listing.path + "/";
    std::size_t seen = 0;
    while (sftp_attributes entry = sftp_readdir(sftp, dir)) {
        watch.renew();
        const std::string name = entry->name != nullptr ? entry->name : "";
        bool folder = entry->type == SSH_FILEXFER_TYPE_DIRECTORY;
        if (entry->type == SSH_FILEXFER_TYPE_SYMLINK && !name.empty()) {
            if (sftp_attributes target = sftp_stat(sftp, (prefix + name).c_str())) {
                folder = target->type == SSH_FILEXFER_TYPE_DIRECTORY;
                sftp_attributes_free(target);
            }
        }
        sftp_attributes_free(entry);
        const bool printable = std::none_of(name.begin(), name.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '/';
        });
        if (folder && !name.empty() && name.front() != '.' && printable) {
            listing.folders.push_back(name);
        }
        if (++seen >= maxListed) {
            break;
        }
    }
    sftp_closedir(dir);
    std::sort(listing.folders.begin(), listing.folders.end());
    return listing;
}

// Walks the host's folders; accepting picks the folder shown.
class RemoteFolderBrowser : public QDialog {
public:
    RemoteFolderBrowser(SshConnection& connection, QWidget* parent)
        : QDialog(parent), connection_(connection) {
        setWindowTitle(tr("Choose a Folder on %1").arg(QString::fromStdString(connection.label())));
        auto* layout = new QVBoxLayout(this);
        path_ = new QLabel;
        path_->setTextFormat(Qt::PlainText);
        path_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        auto* top = new QHBoxLayout;
        auto* up = new QPushButton(tr("Up"));
        up->setObjectName(QStringLiteral("up"));
        top->addWidget(path_, 1);
        top->addWidget(up);
        layout->addLayout(top);
        list_ = new QListWidget;
        list_->setObjectName(QStringLiteral("folders"));
        layout->addWidget(list_);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
        buttons->addButton(tr("Choose This Folder"), QDialogButtonBox::AcceptRole);
        layout->addWidget(buttons);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        connect(up, &QPushButton::clicked, this, [this] {
            const std::size_t slash = current_.find_last_of('/');
            show(slash == 0 || slash == std::string::npos ? "/" : current_.substr(0, slash));
        });
        connect(list_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
            const std::string name = item->text().toStdString();
            show(current_ == "/" ? "/" + name : current_ + "/" + name);
        });
        resize(480, 400);
    }

    // Lists `path`; false when it cannot be listed, with the reason shown unless `quiet`.
    bool show(const std::string& path, bool quiet = false) {
        Listing listing;
        std::atomic<bool> cancel = false;
        runWithProgress(this, tr("Listing folders…"), cancel,
                        [&] { listing = listFolders(connection_, path); });
        if (!listing.error.empty()) {
            if (quiet) {
                return false;
            }
            QMessageBox::warning(this, tr("Unable to list the folder."),
                                 QString::fromStdString(listing.error));
            return false;
        }
        current_ = listing.path;
        path_->setText(QString::fromStdString(current_));
        list_->clear();
        for (const std::string& name : listing.folders) {
            list_->addItem(QString::fromStdString(name));
        }
        return true;
    }

    const std::string& current() const { return current_; }

private:
    SshConnection& connection_;
    std::string current_;
    QLabel* path_;
    QListWidget* list_;
};

} // namespace

QStringList sshConfigHostAliases(const QString& home) {
    ConfigReader reader{home, QDir(home).filePath(QStringLiteral(".ssh")), {}, 0};
    reader.read(reader.sshDir + QStringLiteral("/config"), 0);
    return reader.aliases;
}

RemoteFolderDialog::RemoteFolderDialog(const QString& home, QWidget* parent)
    : QDialog(parent), home_(home), prompts_(std::make_unique<QtRemoteHostPrompts>(this)) {
    setWindowTitle(tr("Another Computer (SSH)"));
    host_ = new QComboBox;
    host_->setObjectName(QStringLiteral("host"));
    host_->setEditable(true);
    host_->setInsertPolicy(QComboBox::NoInsert);
    host_->addItems(sshConfigHostAliases(home));
    host_->setCurrentIndex(-1);
    host_->lineEdit()->setPlaceholderText(tr("server.example.org"));
    user_ = new QLineEdit;
    user_->setObjectName(QStringLiteral("user"));
    user_->setPlaceholderText(tr("As ~/.ssh/config says"));
    port_ = new QSpinBox;
    port_->setObjectName(QStringLiteral("port"));
    port_->setRange(0, 65535);
    port_->setSpecialValueText(tr("Default"));
    folder_ = new QLineEdit;
    folder_->setObjectName(QStringLiteral("folder"));
    folder_->setPlaceholderText(tr("/home/minecraft/server"));
    browse_ = new QPushButton(tr("Browse…"));
    browse_->setObjectName(QStringLiteral("browse"));
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folder_, 1);
    folderRow->addWidget(browse_);

    auto* form = new QFormLayout;
    form->addRow(tr("&Host:"), host_);
    form->addRow(tr("&User:"), user_);
    form->addRow(tr("&Port:"), port_);
    // A row of a layout gets no buddy of its own, which its mnemonic needs.
    auto* folderLabel = new QLabel(tr("&Folder:"));
    folderLabel->setBuddy(folder_);
    form->addRow(folderLabel, folderRow);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    setMinimumWidth(440);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(browse_, &QPushButton::clicked, this, &RemoteFolderDialog::browse);
    connect(host_, &QComboBox::currentTextChanged, this, &RemoteFolderDialog::updateButtons);
    connect(user_, &QLineEdit::textChanged, this, &RemoteFolderDialog::updateButtons);
    connect(folder_, &QLineEdit::textChanged, this, &RemoteFolderDialog::updateButtons);
    updateButtons();
}

RemoteFolderDialog::~RemoteFolderDialog() = default;

void RemoteFolderDialog::setDestination(const SshDestination& destination) {
    host_->setEditText(QString::fromStdString(destination.host));
    user_->setText(QString::fromStdString(destination.user));
    port_->setValue(destination.port.value_or(0));
    folder_->setText(QString::fromStdString(destination.path));
}

std::optional<SshDestination> RemoteFolderDialog::destination() const {
    SshDestination written;
    written.host = host_->currentText().trimmed().toStdString();
    written.user = user_->text().trimmed().toStdString();
    if (port_->value() != 0) {
        written.port = port_->value();
    }
    written.path = folder_->text().trimmed().toStdString();
    // Valid when it reads back as itself: the same rules as a destination typed in one line.
    const ParsedDestination parsed = parseDestination(written.text());
    if (parsed.kind != DestinationKind::Remote || !(parsed.remote == written)) {
        return std::nullopt;
    }
    return written;
}

void RemoteFolderDialog::updateButtons() {
    ok_->setEnabled(destination().has_value());
    browse_->setEnabled(!host_->currentText().trimmed().isEmpty());
}

void RemoteFolderDialog::browse() {
    std::optional<SshDestination> target = destination();
    if (!target) {
        // Only where to connect matters here; the folder is what the browsing finds.
        SshDestination partial;
        partial.host = host_->currentText().trimmed().toStdString();
        partial.user = user_->text().trimmed().toStdString();
        if (port_->value() != 0) {
            partial.port = port_->value();
        }
        partial.path = "/";
        const ParsedDestination parsed = parseDestination(partial.text());
        if (parsed.kind != DestinationKind::Remote || !(parsed.remote == partial)) {
            QMessageBox::warning(this, tr("Unable to connect."),
                                 tr("The host or user name is not valid."));
            return;
        }
        target = partial;
    }
    std::unique_ptr<SshConnection> connection;
    FileFailure failure;
    std::atomic<bool> cancel = false;
    ConnectSettings settings;
    settings.home = home_.toStdString();
    settings.timeoutSeconds = connectSeconds;
    settings.cancel = &cancel;
    runWithProgress(
        this, tr("Connecting to %1…").arg(QString::fromStdString(target->host)), cancel,
        [&] { connection = SshConnection::open(*target, *prompts_, settings, failure); });
    if (!connection) {
        if (!cancel) {
            QMessageBox::warning(this, tr("Unable to connect."),
                                 QString::fromStdString(describe(failure)));
        }
        return;
    }
    RemoteFolderBrowser browser(*connection, this);
    const std::string start = folder_->text().trimmed().toStdString();
    // A folder that is not there yet starts the walk at the account's home.
    if (!(start.starts_with('/') && browser.show(start, true)) && !browser.show({})) {
        return;
    }
    if (browser.exec() == QDialog::Accepted) {
        folder_->setText(QString::fromStdString(browser.current()));
    }
}

std::optional<QString> RemoteFolderDialog::choose(QWidget* parent, const QString& current) {
    RemoteFolderDialog dialog(QDir::homePath(), parent);
    const ParsedDestination parsed = parseDestination(current.toStdString());
    if (parsed.kind == DestinationKind::Remote) {
        dialog.setDestination(parsed.remote);
    }
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const std::optional<SshDestination> chosen = dialog.destination();
    if (!chosen) {
        return std::nullopt;
    }
    return QString::fromStdString(chosen->text());
}

} // namespace Plovermantle
