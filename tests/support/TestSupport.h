#pragma once

#include "platform/Dialogs.h"
#include "worlds/Messages.h"

#include <QByteArray>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace Plovermantle::Testing {

// Items for buildTree, or names a test expects to find.
using Layout = std::vector<std::string>;

// The accounts a test acts as or hands items to: the server's, the desktop user's, and a group the
// two share.
constexpr uid_t serverUser = 12345;
constexpr uid_t desktopUser = 34567;
constexpr gid_t sharedGroup = 23456;

// A prompt's answers: its first button (Replace, Continue), then its second (Cancel).
constexpr int replace = alertFirstButtonReturn;
constexpr int cancel = alertFirstButtonReturn + 1;

// Points HOME and the XDG folders at a fresh temporary folder for the rest of the process, so that
// no test reads or writes the real user's settings or game folders. Call before QApplication.
std::filesystem::path isolateHome();

// Writes `contents` to `path`, creating the folders above it.
void writeFile(const std::filesystem::path& path, const std::string& contents);
std::string readFile(const std::filesystem::path& path);
// The names directly inside `folder`, sorted.
std::vector<std::string> entries(const std::filesystem::path& folder);

// The bytes of `text`, NULs included, for comparing with QCOMPARE.
inline QByteArray bytes(std::string_view text) {
    return {text.data(), static_cast<qsizetype>(text.size())};
}

// Builds `entries` under `root` in order, each in place of what stood there, with the folders
// above each: "d:path" a folder,
// "f:path=contents" a file, "l:path>target" a symbolic link, "p:path" a named pipe, and
// "m:path=0555" gives an item those permission bits (so list a read-only folder's contents first).
// Then dates everything under `root` far back, so that a copy that loses a time shows.
void buildTree(const std::filesystem::path& root, const std::vector<std::string>& entries);

// Every item at and under `path`, links not followed, keyed by its path relative to `path` ("" for
// itself): kind, permission bits, modification time, and a file's content hash or a link's target.
// Pipes, sockets and devices are left out.
using Snapshot = std::map<std::string, std::string>;
Snapshot snapshotTree(const std::filesystem::path& path, const std::string& relative = "");

// A world with some of everything a copy must keep: nested and empty folders, hidden files,
// permission bits (a read-only folder among them), links of every sort, which are never followed,
// and a pipe that must not make the copy wait.
inline const Layout sampleWorld = Layout(
    {"f:level.dat=level", "f:.hidden=h", "f:region/r.0.0.mca=region", "f:region/r.0.1.mca=mine",
     "m:region/r.0.1.mca=0640", "f:run.sh=#!", "m:run.sh=0755", "f:DIM-1/region/r.mca=n",
     "m:DIM-1/region=0555", "d:empty", "l:data/latest>../level.dat", "l:data/abs>/etc/hostname",
     "l:data/dangling>nowhere", "l:data/outside>../../..", "l:data/loop>loop", "p:data/pipe"});

// The permission bits of the item at `path`, links not followed.
mode_t modeOf(const std::filesystem::path& path);

// Runs `work` in a child process as `user` (root stays root) with the supplementary groups given;
// answers whether it succeeded.
bool runAs(uid_t user, std::vector<gid_t> groups, const std::function<bool()>& work);

// Holds a write lock on `file` (a world's session.lock) as the game's JVM does. The lock belongs to
// the open file description, so a lock test sees it even from this process, and other processes do.
class GameLock {
public:
    GameLock() = default;
    GameLock(const GameLock&) = delete;
    GameLock& operator=(const GameLock&) = delete;
    ~GameLock() { release(); }
    bool take(const std::filesystem::path& file);
    void release();

private:
    int fd_ = -1;
};

// The alerts the app shows, word for word.
using Alerts = std::vector<Alert>;

// Records every alert shown and gives them all one answer. The folder chooser answers from a
// script, and cancels when that is spent. Work run with progress runs at once on the calling
// thread, each change of its progress recorded.
class RecordingDialogs : public Dialogs {
public:
    int runAlert(const Alert& alert) override {
        shown.push_back(alert);
        alerts.push_back(alert);
        alerts.back().details.clear();
        if (!answers.empty()) {
            const int answer = answers.front();
            answers.pop_front();
            return answer;
        }
        return alertAnswer;
    }
    std::optional<std::string> chooseFolder(const std::string& startFolder) override {
        chooserStarts.push_back(startFolder);
        std::optional<std::string> answer;
        if (!folderAnswers.empty()) {
            answer = folderAnswers.front();
            folderAnswers.pop_front();
        }
        return answer;
    }
    void runWithProgress(const std::string& /*label*/, const ReportingWork& work) override {
        work([this](const WorkProgress& progress) {
            if (reports.empty() || !(reports.back() == progress)) {
                reports.push_back(progress);
            }
            return ++reportCalls < cancelAfterCalls; // reports and questions alike
        });
    }

    Alerts alerts; // their texts, without details
    Alerts shown;  // as shown, details included
    int alertAnswer = alertFirstButtonReturn;
    std::deque<int> answers; // given first, in order, then alertAnswer
    std::deque<std::optional<std::string>> folderAnswers;
    std::vector<std::string> chooserStarts; // where each folder chooser opened
    std::vector<WorkProgress> reports;
    std::size_t reportCalls = 0;
    std::size_t cancelAfterCalls = SIZE_MAX; // Cancel is pressed at this call
};

} // namespace Plovermantle::Testing
