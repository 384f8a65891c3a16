#include "app/QtRemoteHostPrompts.h"

#include "platform/ServerText.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

namespace Plovermantle {

namespace {

// Runs `ask` on the thread of `context` and hands back its answer; directly when already there.
template <class Ask> auto onThreadOf(QObject& context, Ask ask) -> decltype(ask()) {
    if (QThread::currentThread() == context.thread()) {
        return ask();
    }
    decltype(ask()) answer{};
    QMetaObject::invokeMethod(
        &context, [&] { answer = ask(); }, Qt::BlockingQueuedConnection);
    return answer;
}

QString fromServer(const std::string& text) {
    return QString::fromStdString(printableServerText(text));
}

std::optional<std::string> askSecret(QWidget* parent, const QString& title, const QString& label) {
    QInputDialog dialog(parent);
    dialog.setWindowTitle(title);
    dialog.setLabelText(label);
    dialog.setTextEchoMode(QLineEdit::Password);
    dialog.setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.textValue().toStdString();
}

} // namespace

QtRemoteHostPrompts::QtRemoteHostPrompts(QWidget* parent) : parent_(parent) {}

bool QtRemoteHostPrompts::trustNewHostKey(const std::string& host, const std::string& keyType,
                                          const std::string& fingerprint) {
    return onThreadOf(guiThread_, [&] {
        QMessageBox box(parent_);
        box.setIcon(QMessageBox::Warning);
        box.setWindowTitle(QObject::tr("New Host"));
        // Plain text: the host's name comes from what the user typed or from ~/.ssh/config.
        box.setTextFormat(Qt::PlainText);
        box.setText(QObject::tr("The authenticity of host '%1' can't be established.")
                        .arg(fromServer(host)));
        box.setInformativeText(
            QObject::tr("%1 key fingerprint is %2.\n\nCompare it with the one the host's "
                        "administrator gives you. Are you sure you want to continue connecting?")
                .arg(fromServer(keyType), fromServer(fingerprint)));
        // Wide enough that the fingerprint stays on one line, and selectable to compare it.
        box.setStyleSheet(QStringLiteral("QLabel#qt_msgbox_informativelabel { min-width: 44em; }"));
        box.setTextInteractionFlags(Qt::TextSelectableByMouse);
        QPushButton* connect = box.addButton(QObject::tr("Connect"), QMessageBox::AcceptRole);
        box.addButton(QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        box.exec();
        return box.clickedButton() == connect;
    });
}

std::optional<std::string> QtRemoteHostPrompts::passphrase(const std::string& keyFile) {
    return onThreadOf(guiThread_, [&] {
        return askSecret(parent_, QObject::tr("Key Passphrase"),
                         QObject::tr("Enter passphrase for key '%1':").arg(fromServer(keyFile)));
    });
}

std::optional<std::string> QtRemoteHostPrompts::password(const std::string& prompt) {
    return onThreadOf(guiThread_, [&] {
        return askSecret(parent_, QObject::tr("Password"), fromServer(prompt));
    });
}

std::optional<std::vector<std::string>>
QtRemoteHostPrompts::keyboardInteractive(const std::string& name, const std::string& instruction,
                                         const std::vector<KeyboardPrompt>& prompts) {
    if (prompts.size() > maxKeyboardPrompts) {
        return std::nullopt;
    }
    return onThreadOf(guiThread_, [&]() -> std::optional<std::vector<std::string>> {
        QDialog dialog(parent_);
        dialog.setWindowTitle(name.empty() ? QObject::tr("Sign In") : fromServer(name));
        auto* layout = new QVBoxLayout(&dialog);
        if (!instruction.empty()) {
            auto* text = new QLabel(fromServer(instruction));
            text->setTextFormat(Qt::PlainText);
            text->setWordWrap(true);
            layout->addWidget(text);
        }
        auto* form = new QFormLayout;
        std::vector<QLineEdit*> fields;
        for (const KeyboardPrompt& prompt : prompts) {
            auto* field = new QLineEdit;
            field->setEchoMode(prompt.echo ? QLineEdit::Normal : QLineEdit::Password);
            auto* label = new QLabel(fromServer(prompt.text));
            label->setTextFormat(Qt::PlainText);
            label->setBuddy(field);
            form->addRow(label, field);
            fields.push_back(field);
        }
        layout->addLayout(form);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        layout->addWidget(buttons);
        dialog.setMinimumWidth(360);
        if (dialog.exec() != QDialog::Accepted) {
            return std::nullopt;
        }
        std::vector<std::string> answers;
        for (const QLineEdit* field : fields) {
            answers.push_back(field->text().toStdString());
        }
        return answers;
    });
}

} // namespace Plovermantle
