#include "platform/QtDialogs.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace Plovermantle {

namespace {
// Each button carries the answer runAlert gives for it: QMessageBox orders buttons by role, not by
// the order they were added in.
constexpr const char* answerProperty = "plovermantleAnswer";
} // namespace

std::unique_ptr<QMessageBox> QtDialogs::makeAlert(const Alert& alert, QWidget* parent) {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowModality(Qt::ApplicationModal);
    box->setWindowTitle(QApplication::applicationDisplayName());
    box->setIcon(alert.style == AlertStyle::Warning ? QMessageBox::Warning
                                                    : QMessageBox::Information);
    if (alert.buttons.empty()) {
        box->addButton(QMessageBox::Ok)->setProperty(answerProperty, alertFirstButtonReturn);
    }
    for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
        // The first button is the default; any later one is a way out, and the last answers Esc.
        const auto role = i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        QPushButton* button = box->addButton(QString::fromStdString(alert.buttons[i]), role);
        button->setProperty(answerProperty, alertFirstButtonReturn + static_cast<int>(i));
        if (i == 0) {
            box->setDefaultButton(button);
        }
        if (i + 1 == alert.buttons.size() && i > 0) {
            box->setEscapeButton(button);
        }
    }
    box->setText(QString::fromStdString(alert.messageText));
    box->setInformativeText(QString::fromStdString(alert.informativeText));
    return box;
}

int QtDialogs::runAlert(const Alert& alert) {
    const auto box = makeAlert(alert, QApplication::activeWindow());
    box->exec();
    const QAbstractButton* clicked = box->clickedButton();
    return clicked != nullptr ? clicked->property(answerProperty).toInt() : alertClosedReturn;
}

std::unique_ptr<QFileDialog> QtDialogs::makeFolderChooser(QWidget* parent) {
    auto chooser = std::make_unique<QFileDialog>(parent);
    chooser->setWindowModality(Qt::ApplicationModal);
    chooser->setFileMode(QFileDialog::Directory); // one folder, never a file
    chooser->setOption(QFileDialog::ShowDirsOnly, true);
    chooser->setOption(QFileDialog::ReadOnly, true); // offers no way to create a folder
    return chooser;
}

std::optional<std::string> QtDialogs::chooseFolder() {
    const auto chooser = makeFolderChooser(QApplication::activeWindow());
    if (chooser->exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QStringList chosen = chooser->selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty()) {
        return std::nullopt;
    }
    return QFile::encodeName(chosen.first()).toStdString();
}

} // namespace Plovermantle
