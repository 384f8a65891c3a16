// Sends a folder tree to a server folder over SSH the way the app sends a world (received into a
// new folder, counted again, flushed), without a window, and reports the time taken.
//
// Usage: plovermantle_remote_copy_bench SOURCE DESTINATION NAME
//   DESTINATION is "[user@]host:/path" or "ssh://[user@]host[:port]/path"; NAME must not exist in
//   it. ~/.ssh is read from $HOME, and the host must be in its known_hosts already.

#include "platform/ssh/RemoteServerFolder.h"

#include <QDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace Plovermantle;

namespace {

// Asks nothing: a benchmark runs with a known host and a key without a passphrase.
class NoPrompts : public RemoteHostPrompts {
public:
    bool trustNewHostKey(const std::string&, const std::string&, const std::string&) override {
        return false;
    }
    std::optional<std::string> passphrase(const std::string&) override { return std::nullopt; }
    std::optional<std::string> password(const std::string&) override { return std::nullopt; }
    std::optional<std::vector<std::string>>
    keyboardInteractive(const std::string&, const std::string&,
                        const std::vector<KeyboardPrompt>&) override {
        return std::nullopt;
    }
};

TransferItem itemOf(const fs::path& root, const fs::path& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    TransferItem item;
    item.relativePath = path == root ? std::string() : path.lexically_relative(root).string();
    item.kind = S_ISDIR(status.st_mode)   ? ItemKind::Folder
                : S_ISLNK(status.st_mode) ? ItemKind::SymbolicLink
                                          : ItemKind::RegularFile;
    item.size = S_ISREG(status.st_mode) ? static_cast<std::uint64_t>(status.st_size) : 0;
    item.permissions = status.st_mode & 07777;
    item.modified = {status.st_mtim.tv_sec, status.st_mtim.tv_nsec};
    if (item.kind == ItemKind::SymbolicLink) {
        item.linkTarget = fs::read_symlink(path).string();
    }
    return item;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s SOURCE DESTINATION NAME\n", argv[0]);
        return 2;
    }
    const fs::path source = fs::absolute(argv[1]);
    const ParsedDestination destination = parseDestination(argv[2]);
    const std::string name = argv[3];
    if (destination.kind != DestinationKind::Remote) {
        std::fprintf(stderr, "not a remote destination: %s\n", argv[2]);
        return 2;
    }
    // Parents first, as a world source sends them.
    std::vector<fs::path> paths{source};
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(source)) {
        paths.push_back(entry.path());
    }
    std::sort(paths.begin() + 1, paths.end());

    const auto start = std::chrono::steady_clock::now();
    NoPrompts prompts;
    FileFailure failure;
    const auto folder = RemoteServerFolder::open(destination.remote, prompts,
                                                 {QDir::homePath().toStdString()}, failure);
    if (!folder) {
        std::fprintf(stderr, "%s\n", describe(failure).c_str());
        return 1;
    }
    auto sink = folder->receiveTree(name, {});
    TreeTotals sent;
    bool ok = sink != nullptr;
    for (const fs::path& path : paths) {
        if (!ok) {
            break;
        }
        const TransferItem item = itemOf(source, path);
        if (item.kind == ItemKind::Folder) {
            ++sent.folders;
            ok = sink->makeFolder(item);
        } else if (item.kind == ItemKind::SymbolicLink) {
            ++sent.files;
            ok = sink->makeLink(item);
        } else {
            ++sent.files;
            sent.bytes += item.size;
            FileContent content;
            content.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
            ok = sink->writeFile(item, content, {});
            ::close(content.fd);
        }
    }
    ok = ok && sink->finish();
    sink.reset();
    const std::optional<TreeTotals> counted = ok ? folder->countTree(name) : std::nullopt;
    ok = ok && counted == sent && folder->flush(name);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (!ok) {
        const std::optional<FileFailure> why = folder->takeFailure();
        std::fprintf(stderr, "the copy failed: %s\n",
                     why ? describe(*why).c_str() : "the recount differs from what was sent");
        return 1;
    }
    std::printf("files=%llu bytes=%llu seconds=%.3f shell=%d\n",
                static_cast<unsigned long long>(sent.files),
                static_cast<unsigned long long>(sent.bytes), elapsed.count(),
                folder->account().has_value() ? 1 : 0);
    return 0;
}
