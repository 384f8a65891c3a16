#include "app/QtDialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

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
    if (!alert.details.empty()) {
        box->setDetailedText(QString::fromStdString(alert.details));
        // Paths and error texts read best as they are: in columns, scrolled rather than wrapped.
        if (auto* details = box->findChild<QTextEdit*>()) {
            details->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
            details->setLineWrapMode(QTextEdit::NoWrap);
        }
    }
    // A message box fits itself to its shortest line; a spacer across its grid keeps a long text
    // from wrapping into a narrow column.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
        grid->addItem(
            new QSpacerItem(minimumAlertWidth, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
            grid->rowCount(), 0, 1, grid->columnCount());
    }
    return box;
}

int QtDialogs::runAlert(const Alert& alert) {
    const auto box = makeAlert(alert, QApplication::activeWindow());
    box->exec();
    const QAbstractButton* clicked = box->clickedButton();
    return clicked != nullptr ? clicked->property(answerProperty).toInt() : alertClosedReturn;
}

std::unique_ptr<QFileDialog> QtDialogs::makeFolderChooser(QWidget* parent,
                                                          const std::string& startFolder) {
    auto chooser = std::make_unique<QFileDialog>(parent);
    if (!startFolder.empty()) {
        chooser->setDirectory(QFile::decodeName(startFolder.c_str()));
    }
    chooser->setWindowModality(Qt::ApplicationModal);
    chooser->setFileMode(QFileDialog::Directory); // one folder, never a file
    chooser->setOption(QFileDialog::ShowDirsOnly, true);
    chooser->setOption(QFileDialog::ReadOnly, true); // offers no way to create a folder
    return chooser;
}

std::optional<std::string> QtDialogs::chooseFile(const std::string& startFolder,
                                                 const std::string& patterns) {
    const QString chosen = QFileDialog::getOpenFileName(
        QApplication::activeWindow(), QString(), QFile::decodeName(startFolder.c_str()),
        QApplication::translate("QtDialogs", "Archives (%1)")
            .arg(QString::fromStdString(patterns)));
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return QFile::encodeName(chosen).toStdString();
}

std::optional<std::string> QtDialogs::chooseFolder(const std::string& startFolder) {
    const auto chooser = makeFolderChooser(QApplication::activeWindow(), startFolder);
    if (chooser->exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QStringList chosen = chooser->selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty()) {
        return std::nullopt;
    }
    return QFile::encodeName(chosen.first()).toStdString();
}

std::unique_ptr<QProgressDialog> QtDialogs::makeProgressDialog(const std::string& label,
                                                               QWidget* parent) {
    auto dialog = std::make_unique<QProgressDialog>(parent);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->setWindowTitle(QApplication::applicationDisplayName());
    dialog->setLabelText(describeProgress(label, {}));
    dialog->setCancelButtonText(QProgressDialog::tr("Cancel"));
    // Per mille of the bytes (of the files while there are no bytes to count).
    dialog->setRange(0, 1000);
    dialog->setMinimumDuration(0);
    // Only Cancel or the end of the work closes it.
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setMinimumWidth(minimumAlertWidth);
    return dialog;
}

QString QtDialogs::describeProgress(const std::string& label, const WorkProgress& progress) {
    const QLocale locale;
    return QStringLiteral("%1\n%2 of %3 files, %4 of %5")
        .arg(QString::fromStdString(label), locale.toString(progress.filesDone),
             locale.toString(progress.filesTotal),
             locale.formattedDataSize(static_cast<qint64>(progress.bytesDone)),
             locale.formattedDataSize(static_cast<qint64>(progress.bytesTotal)));
}

void QtDialogs::runWithProgress(const std::string& label, const ReportingWork& work) {
    // What the worker and this thread share; the worker only reports and ends.
    struct Shared {
        std::mutex mutex;
        WorkProgress latest;
        std::atomic<bool> cancelled{false};
        std::atomic<bool> finished{false};
        std::exception_ptr failure;
    } shared;

    std::thread worker([&shared, &work] {
        try {
            work([&shared](const WorkProgress& progress) {
                {
                    const std::lock_guard lock(shared.mutex);
                    shared.latest = progress;
                }
                return !shared.cancelled.load();
            });
        } catch (...) {
            shared.failure = std::current_exception();
        }
        shared.finished = true;
    });

    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QProgressDialog> dialog;
    const auto showLatest = [&] {
        WorkProgress progress;
        {
            const std::lock_guard lock(shared.mutex);
            progress = shared.latest;
        }
        const auto permille = [](std::uint64_t done, std::uint64_t total) {
            return total == 0 ? 0 : static_cast<int>(std::min(done, total) * 1000 / total);
        };
        dialog->setLabelText(describeProgress(label, progress));
        dialog->setValue(progress.bytesTotal > 0
                             ? permille(progress.bytesDone, progress.bytesTotal)
                             : permille(progress.filesDone, progress.filesTotal));
    };
    // Polled rather than signalled, so that an end of the work can never be missed between two
    // runs of the loop below.
    QTimer tick;
    tick.setInterval(15);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (shared.finished || (!dialog && clock.elapsed() >= progressDelayMs)) {
            loop.quit();
        } else if (dialog && dialog->isVisible()) {
            showLatest();
        }
    });
    tick.start();

    while (!shared.finished) {
        if (!dialog && !shared.cancelled && clock.elapsed() >= progressDelayMs) {
            dialog = makeProgressDialog(label, QApplication::activeWindow());
            QObject::connect(dialog.get(), &QProgressDialog::canceled, &loop, [&] {
                shared.cancelled = true;
                loop.quit();
            });
            dialog->show();
            showLatest();
        }
        // The user acts only on the modal dialog while it is up. Before it shows, and once Cancel
        // was pressed, input waits for the work to end, so that the action running now finishes
        // before the next one starts; painting and timers go on all along.
        const bool onlyTheDialog = dialog && !shared.cancelled;
        loop.exec(onlyTheDialog ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    }
    worker.join();
    if (dialog) {
        dialog->hide();
    }
    if (shared.failure) {
        std::rethrow_exception(shared.failure);
    }
}

} // namespace Plovermantle
