#pragma once

#include "platform/Dialogs.h"
#include "platform/PosixFileSystem.h"
#include "worlds/Messages.h"

#include <QByteArray>
#include <deque>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace Plovermantle::Testing {

// Points HOME and the XDG folders at a fresh temporary folder for the rest of the process, so that
// no test reads or writes the real user's settings or game folders. Call before QApplication.
std::filesystem::path isolateHome();

// Writes `contents` to `path`, creating the folders above it.
void writeFile(const std::filesystem::path& path, const std::string& contents);
std::string readFile(const std::filesystem::path& path);
// The names directly inside `folder`, sorted.
std::vector<std::string> entries(const std::filesystem::path& folder);
// The bytes of `text`, NULs included, for comparing with QCOMPARE.
QByteArray bytes(std::string_view text);

// The alerts the app shows, word for word.
using Alerts = std::vector<Alert>;
using namespace Messages;

// Removes the saves folder and forgets the launch's folders, so that the next test starts afresh.
void forgetLaunch();

// Records every alert shown and answers from a script; answers the first button when the script
// is empty. The folder chooser answers from its own script, and cancels when that is empty. Work
// run with progress runs at once on the calling thread, its reports recorded.
class RecordingDialogs : public Dialogs {
public:
    int runAlert(const Alert& alert) override {
        shown.push_back(alert);
        alerts.push_back(alert);
        alerts.back().details.clear();
        return next(alertAnswers, alertFirstButtonReturn);
    }
    std::optional<std::string> chooseFolder(const std::string& startFolder) override {
        chooserStarts.push_back(startFolder);
        return next(folderAnswers, {});
    }
    void runWithProgress(const std::string& label, const ReportingWork& work) override;

    struct ProgressRun {
        std::vector<WorkProgress> reports; // each change of progress
        std::size_t calls = 0;             // reports and questions alike
    };
    std::vector<ProgressRun> progressRuns;
    // Cancel is pressed once the work has called its report this many times; never when empty.
    std::optional<std::size_t> cancelAfterCalls;

    std::vector<Alert> alerts; // their texts, without details
    std::vector<Alert> shown;  // as shown, details included
    std::deque<int> alertAnswers;
    std::deque<std::optional<std::string>> folderAnswers;
    std::vector<std::string> chooserStarts; // where each folder chooser opened

private:
    // The script's next answer, or `otherwise` once it is spent.
    template <typename T> static T next(std::deque<T>& script, T otherwise) {
        if (!script.empty()) {
            otherwise = std::move(script.front());
            script.pop_front();
        }
        return otherwise;
    }
};

// A listing that answers exactly what a test says, in that order; every other operation goes to the
// real disk.
class ScriptedListing : public PosixFileSystem {
public:
    std::optional<std::vector<ListedEntry>> listFolder(const std::string& folder) override {
        foldersListed.push_back(folder);
        return answer;
    }

    std::optional<std::vector<ListedEntry>> answer;
    std::vector<std::string> foldersListed;
};

} // namespace Plovermantle::Testing
