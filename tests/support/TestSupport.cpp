#include "TestSupport.h"

#include "settings/Settings.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace Plovermantle::Testing {

namespace fs = std::filesystem;

std::filesystem::path isolateHome() {
    std::string pattern = (fs::temp_directory_path() / "plovermantle-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary home");
    }
    static const fs::path home = pattern;
    static const struct Cleanup {
        ~Cleanup() {
            std::error_code ignored;
            fs::remove_all(home, ignored);
        }
    } cleanup;
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home / ".cache").c_str(), 1);
    return home;
}

void writeFile(const fs::path& path, const std::string& contents) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

QByteArray bytes(std::string_view text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

void forgetLaunch() {
    fs::remove_all(savesFolderPath());
    globalFullPath() = std::string();
    globalServerPath() = std::string();
}

void RecordingDialogs::runWithProgress(const std::string& /*label*/, const ReportingWork& work) {
    progressRuns.emplace_back();
    const std::size_t run = progressRuns.size() - 1;
    work([this, run](const WorkProgress& progress) {
        ProgressRun& current = progressRuns[run];
        if (current.reports.empty() || !(current.reports.back() == progress)) {
            current.reports.push_back(progress);
        }
        ++current.calls;
        return !cancelAfterCalls || current.calls < *cancelAfterCalls;
    });
}

} // namespace Plovermantle::Testing
