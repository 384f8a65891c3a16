#include "platform/ssh/RemoteServerFolder.h"

#include "platform/Paths.h"
#include "platform/ssh/RemoteTreeSinks.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QSysInfo>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <libssh/libssh.h>
#include <libssh/sftp.h>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace Plovermantle {

namespace {

constexpr int sftpSeconds = 60;
constexpr int maxDepth = 256;
constexpr std::size_t maxEntries = 1000000;

struct Attributes {
    sftp_attributes value = nullptr;
    explicit Attributes(sftp_attributes attributes) : value(attributes) {}
    ~Attributes() { sftp_attributes_free(value); }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;
    explicit operator bool() const { return value != nullptr; }
};

struct File {
    sftp_file value = nullptr;
    explicit File(sftp_file file) : value(file) {}
    ~File() {
        if (value != nullptr) {
            sftp_close(value);
        }
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    bool close() { return sftp_close(std::exchange(value, nullptr)) == SSH_OK; }
};

ItemKind kindOf(const sftp_attributes_struct& attributes) {
    switch (attributes.permissions & S_IFMT) {
    case S_IFDIR:
        return ItemKind::Folder;
    case S_IFREG:
        return ItemKind::RegularFile;
    case S_IFLNK:
        return ItemKind::SymbolicLink;
    default:
        return ItemKind::Special;
    }
}

std::string parentOf(const std::string& relative) {
    const std::size_t slash = relative.rfind('/');
    return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

std::string nameOf(const std::string& relative) {
    const std::size_t slash = relative.rfind('/');
    return slash == std::string::npos ? relative : relative.substr(slash + 1);
}

std::string randomLetters(std::size_t count) {
    static constexpr char letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += letters[QRandomGenerator::system()->bounded(62)];
    }
    return text;
}

bool validUtf8(const std::string& text) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded =
        decoder(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    return !decoder.hasError();
}

// The copy locks this process holds, by the start time they record: a lock file naming this
// process but none of these was left by a connection that was lost.
std::mutex heldMutex;
std::set<std::string> heldSince;

struct LockText {
    std::string host;
    std::int64_t pid = 0;
    std::string since;
};

std::optional<LockText> parseLock(const std::string& text) {
    LockText lock;
    std::istringstream lines(text);
    std::string line;
    bool havePid = false;
    while (std::getline(lines, line)) {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "host") {
            lock.host = value;
        } else if (key == "since") {
            lock.since = value;
        } else if (key == "pid") {
            char* end = nullptr;
            lock.pid = std::strtoll(value.c_str(), &end, 10);
            havePid = end != value.c_str() && *end == '\0' && lock.pid > 0;
        }
    }
    if (lock.host.empty() || !havePid || lock.since.empty()) {
        return std::nullopt;
    }
    return lock;
}

// A lock left by this computer whose process is gone, or by this process on a connection since
// lost.
bool abandoned(const LockText& lock) {
    if (lock.host != QSysInfo::machineHostName().toStdString()) {
        return false;
    }
    if (lock.pid == ::getpid()) {
        const std::lock_guard guard(heldMutex);
        return heldSince.count(lock.since) == 0;
    }
    return ::kill(static_cast<pid_t>(lock.pid), 0) != 0 && errno == ESRCH;
}

class RemoteCopyLock : public HeldLock {
public:
    RemoteCopyLock(std::shared_ptr<SshConnection> connection, std::string path, std::string since)
        : connection_(std::move(connection)), path_(std::move(path)), since_(std::move(since)) {
        const std::lock_guard guard(heldMutex);
        heldSince.insert(since_);
    }
    ~RemoteCopyLock() override {
        if (sftp_session sftp = connection_->sftp()) {
            const SshConnection::Watch watch(*connection_, sftpSeconds);
            sftp_unlink(sftp, path_.c_str());
        }
        const std::lock_guard guard(heldMutex);
        heldSince.erase(since_);
    }

private:
    std::shared_ptr<SshConnection> connection_;
    std::string path_;
    std::string since_;
};

// Tells whether a process holds a lock on a file, the way that works for any account: the file's
// device and inode in /proc/locks, else an F_GETLK probe. Exit 0: free, 1: held, 3: cannot tell.
constexpr const char* lockProbe = R"PERL(
use strict; use Fcntl;
my $p = $ARGV[0];
my @s = lstat($p);
exit 0 unless @s && -f _;
my ($dev, $ino) = @s[0, 1];
my $major = (($dev >> 8) & 0xfff) | (($dev >> 32) & ~0xfff);
my $minor = ($dev & 0xff) | (($dev >> 12) & ~0xff);
if (open(my $locks, "<", "/proc/locks")) {
    while (<$locks>) {
        exit 1 if /\s([0-9a-f]+):([0-9a-f]+):(\d+)\s/ && hex($1) == $major && hex($2) == $minor
            && $3 == $ino;
    }
}
open(my $f, "<", $p) or exit 3;
my $q = pack("s s x4 q q l x4", F_WRLCK, 0, 0, 0, 0);
fcntl($f, F_GETLK, $q) or exit 3;
my ($type) = unpack("s", $q);
exit($type == F_UNLCK ? 0 : 1);
)PERL";

} // namespace

std::unique_ptr<RemoteServerFolder> RemoteServerFolder::open(const SshDestination& destination,
                                                             RemoteHostPrompts& prompts,
                                                             const ConnectSettings& settings,
                                                             FileFailure& failure) {
    std::unique_ptr<SshConnection> connection =
        SshConnection::open(destination, prompts, settings, failure);
    if (!connection) {
        return nullptr;
    }
    std::unique_ptr<RemoteServerFolder> folder(new RemoteServerFolder);
    folder->connection_ = std::move(connection);
    folder->destination_ = destination;
    while (folder->destination_.path.size() > 1 && folder->destination_.path.back() == '/') {
        folder->destination_.path.pop_back();
    }
    sftp_session sftp = folder->connection_->sftp();
    if (sftp == nullptr) {
        failure = {"start SFTP on", destination.text(),
                   remoteReason(folder->connection_->lastError())};
        return nullptr;
    }
    const SshConnection::Watch watch(*folder->connection_, sftpSeconds);
    const Attributes root(sftp_stat(sftp, folder->destination_.path.c_str()));
    if (!root || kindOf(*root.value) != ItemKind::Folder) {
        failure = {"open the folder", destination.text(),
                   root ? std::make_error_code(std::errc::not_a_directory)
                        : std::make_error_code(std::errc::no_such_file_or_directory)};
        return nullptr;
    }
    return folder;
}

std::string RemoteServerFolder::displayName() const {
    return destination_.text();
}

std::string RemoteServerFolder::absolute(const std::string& relative) const {
    if (relative.empty()) {
        return destination_.path;
    }
    return (destination_.path == "/" ? std::string() : destination_.path) + '/' + relative;
}

std::string RemoteServerFolder::where(const std::string& relative) const {
    SshDestination item = destination_;
    item.path = absolute(relative);
    return item.text();
}

void RemoteServerFolder::noteSftpFailure(const std::string& operation,
                                         const std::string& relative) {
    std::error_code error;
    sftp_session sftp = connection_->alive() ? connection_->sftp() : nullptr;
    const int code = sftp != nullptr ? sftp_get_error(sftp) : SSH_FX_CONNECTION_LOST;
    switch (code) {
    case SSH_FX_NO_SUCH_FILE:
        error = std::make_error_code(std::errc::no_such_file_or_directory);
        break;
    case SSH_FX_PERMISSION_DENIED:
        error = std::make_error_code(std::errc::permission_denied);
        break;
    case SSH_FX_FILE_ALREADY_EXISTS:
        error = std::make_error_code(std::errc::file_exists);
        break;
    case SSH_FX_OP_UNSUPPORTED:
        error = std::make_error_code(std::errc::operation_not_supported);
        break;
    case SSH_FX_NO_CONNECTION:
    case SSH_FX_CONNECTION_LOST:
        error = remoteReason(connection_->lastError());
        break;
    default: {
        const std::string said = ssh_get_error(connection_->session());
        error = remoteReason(said.empty() ? "the SFTP server refused" : said);
    }
    }
    noteFailure({operation, where(relative), error});
}

bool RemoteServerFolder::validName(const std::string& relative, const std::string& operation) {
    bool valid = relative.empty() || (relative.front() != '/' && relative.back() != '/');
    std::size_t start = 0;
    while (valid && !relative.empty() && start <= relative.size()) {
        const std::size_t slash = std::min(relative.find('/', start), relative.size());
        const std::string_view part(relative.data() + start, slash - start);
        valid = !part.empty() && part != "." && part != ".." &&
                part.find('\0') == std::string_view::npos;
        start = slash + 1;
    }
    if (!valid) {
        noteFailure(
            {operation, where(relative), std::make_error_code(std::errc::invalid_argument)});
    }
    return valid;
}

std::optional<Account> RemoteServerFolder::account() {
    if (account_) {
        return *account_;
    }
    if (!connection_->hasShell()) {
        if (connection_->alive()) {
            account_.emplace(std::nullopt);
        }
        return std::nullopt;
    }
    std::istringstream numbers(connection_->ids());
    Account account;
    if (!(numbers >> account.uid)) {
        return std::nullopt;
    }
    std::uint32_t group = 0;
    while (numbers >> group) {
        account.groups.push_back(group);
    }
    account_.emplace(account);
    uid_ = account.uid;
    return account;
}

std::optional<std::uint32_t> RemoteServerFolder::ownUid() {
    if (uid_) {
        return uid_;
    }
    if (const std::optional<Account> known = account()) {
        return known->uid;
    }
    // Without a shell: the owner of a folder made for the purpose, tried once.
    if (uidTried_ || !connection_->alive()) {
        return std::nullopt;
    }
    uidTried_ = true;
    const std::optional<std::string> probe = makeTemporaryFolder(".plovermantle-probe-");
    if (!probe) {
        return std::nullopt;
    }
    sftp_session sftp = connection_->sftp();
    const SshConnection::Watch watch(*connection_, sftpSeconds);
    const Attributes attributes(sftp_lstat(sftp, absolute(*probe).c_str()));
    if (attributes) {
        uid_ = attributes.value->uid;
    }
    sftp_rmdir(sftp, absolute(*probe).c_str());
    return uid_;
}

std::optional<ItemInfo> RemoteServerFolder::itemInfo(const std::string& relative) {
    sftp_session sftp = connection_->sftp();
    if (!validName(relative, "examine")) {
        return std::nullopt;
    }
    if (sftp == nullptr) {
        noteSftpFailure("examine", relative);
        return std::nullopt;
    }
    const SshConnection::Watch watch(*connection_, sftpSeconds);
    const Attributes attributes(sftp_lstat(sftp, absolute(relative).c_str()));
    if (!attributes) {
        if (sftp_get_error(sftp) == SSH_FX_NO_SUCH_FILE) {
            return ItemInfo{};
        }
        noteSftpFailure("examine", relative);
        return std::nullopt;
    }
    const sftp_attributes_struct& a = *attributes.value;
    ItemInfo info;
    info.kind = kindOf(a);
    info.size = info.kind == ItemKind::RegularFile ? a.size : 0;
    info.permissions = a.permissions & 07777;
    info.accessed = {static_cast<std::int64_t>(a.atime), 0};
    info.modified = {static_cast<std::int64_t>(a.mtime), 0};
    info.owner = a.uid;
    info.group = a.gid;
    // SFTP tells no device or inode.
    const std::optional<std::uint32_t> uid = ownUid();
    info.ownedByUser = uid && a.uid == *uid;
    return info;
}

std::optional<std::vector<std::string>> RemoteServerFolder::entries(const std::string& relative) {
    sftp_session sftp = connection_->sftp();
    if (!validName(relative, "list")) {
        return std::nullopt;
    }
    if (sftp == nullptr) {
        noteSftpFailure("list", relative);
        return std::nullopt;
    }
    SshConnection::Watch watch(*connection_, sftpSeconds);
    sftp_dir dir = sftp_opendir(sftp, absolute(relative).c_str());
    if (dir == nullptr) {
        noteSftpFailure("list", relative);
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (const Attributes entry{sftp_readdir(sftp, dir)}) {
        watch.renew();
        const std::string name = entry.value->name != nullptr ? entry.value->name : "";
        if (name != "." && name != ".." && !name.empty()) {
            names.push_back(name);
        }
        if (names.size() > maxEntries) {
            break;
        }
    }
    const bool complete = sftp_dir_eof(dir) != 0;
    sftp_closedir(dir);
    if (!complete) {
        noteSftpFailure("list", relative);
        return std::nullopt;
    }
    return names;
}

std::optional<std::string> RemoteServerFolder::makeTemporaryFolder(const std::string& prefix) {
    sftp_session sftp = connection_->sftp();
    for (int attempt = 0; sftp != nullptr && attempt < 20; ++attempt) {
        const std::string name = prefix + randomLetters(6);
        const SshConnection::Watch watch(*connection_, sftpSeconds);
        if (sftp_mkdir(sftp, absolute(name).c_str(), 0700) == SSH_OK) {
            return name;
        }
        // SFTP version 3 says only "failure" when the name is taken: look before trying again.
        const Attributes there(sftp_lstat(sftp, absolute(name).c_str()));
        if (!there) {
            break;
        }
    }
    noteSftpFailure("create a folder in", "");
    return std::nullopt;
}

bool RemoteServerFolder::makeFolder(const std::string& relative, std::uint32_t permissions) {
    sftp_session sftp = connection_->sftp();
    if (!validName(relative, "create the folder")) {
        return false;
    }
    const SshConnection::Watch watch(*connection_, sftpSeconds);
    if (sftp == nullptr || sftp_mkdir(sftp, absolute(relative).c_str(), 0700) != SSH_OK ||
        sftp_chmod(sftp, absolute(relative).c_str(), permissions & 07777) != SSH_OK) {
        noteSftpFailure("create the folder", relative);
        return false;
    }
    return true;
}

bool RemoteServerFolder::rename(const std::string& from, const std::string& to) {
    sftp_session sftp = connection_->sftp();
    if (!validName(from, "move") || !validName(to, "move")) {
        return false;
    }
    const SshConnection::Watch watch(*connection_, sftpSeconds);
    // The plain SFTP rename of OpenSSH's server never replaces what is there; other servers may,
    // so a name already taken is refused first.
    if (sftp != nullptr) {
        const Attributes there(sftp_lstat(sftp, absolute(to).c_str()));
        if (there) {
            noteFailure({"move " + where(from) + " to", where(to),
                         std::make_error_code(std::errc::file_exists)});
            return false;
        }
    }
    if (sftp == nullptr ||
        sftp_rename(sftp, absolute(from).c_str(), absolute(to).c_str()) != SSH_OK) {
        noteSftpFailure("move " + where(from) + " to", to);
        return false;
    }
    return true;
}

std::optional<std::uint64_t> RemoteServerFolder::freeBytes() {
    sftp_session sftp = connection_->sftp();
    if (sftp == nullptr || sftp_extension_supported(sftp, "statvfs@openssh.com", "2") == 0) {
        return std::nullopt; // then only the archive's own caps bound what it unpacks
    }
    const SshConnection::Watch watch(*connection_, sftpSeconds);
    sftp_statvfs_t status = sftp_statvfs(sftp, absolute("").c_str());
    if (status == nullptr) {
        return std::nullopt;
    }
    const std::uint64_t free = status->f_bavail * status->f_frsize;
    sftp_statvfs_free(status);
    return free;
}

bool RemoteServerFolder::setPermissions(const std::string& relative, std::uint32_t permissions) {
    sftp_session sftp = connection_->sftp();
    if (!validName(relative, "set the permissions of")) {
        return false;
    }
    const SshConnection::Watch watch(*connection_, sftpSeconds);
    // SFTP's chmod follows a link: a link in the item's place is refused instead.
    const Attributes there(sftp != nullptr ? sftp_lstat(sftp, absolute(relative).c_str())
                                           : nullptr);
    if (there && there.value->type == SSH_FILEXFER_TYPE_SYMLINK) {
        noteFailure({"set the permissions of", where(relative),
                     make_error_code(FileProblem::LinkNotFollowed)});
        return false;
    }
    if (!there || sftp_chmod(sftp, absolute(relative).c_str(),
                             static_cast<mode_t>(permissions & 07777)) != SSH_OK) {
        noteSftpFailure("set the permissions of", relative);
        return false;
    }
    return true;
}

bool RemoteServerFolder::removeItem(const std::string& relative,
                                    const sftp_attributes_struct& attributes, std::uint32_t uid,
                                    int depth) {
    sftp_session sftp = connection_->sftp();
    if (sftp == nullptr) {
        noteSftpFailure("remove", relative);
        return false;
    }
    if (attributes.uid != uid) {
        noteFailure({"remove", where(relative),
                     remoteReason("it belongs to another account, so it is left alone")});
        return false;
    }
    SshConnection::Watch watch(*connection_, sftpSeconds);
    const std::string path = absolute(relative);
    if (kindOf(attributes) != ItemKind::Folder) {
        if (sftp_unlink(sftp, path.c_str()) != SSH_OK) {
            noteSftpFailure("remove", relative);
            return false;
        }
        return true;
    }
    if (depth > maxDepth) {
        noteFailure({"remove", where(relative), std::make_error_code(std::errc::too_many_links)});
        return false;
    }
    // Listed whole before anything goes, so that removing does not disturb the listing.
    std::vector<std::pair<std::string, std::unique_ptr<Attributes>>> children;
    sftp_dir dir = sftp_opendir(sftp, path.c_str());
    if (dir == nullptr) {
        noteSftpFailure("list", relative);
        return false;
    }
    while (sftp_attributes entry = sftp_readdir(sftp, dir)) {
        auto owned = std::make_unique<Attributes>(entry);
        const std::string name = entry->name != nullptr ? entry->name : "";
        if (name != "." && name != ".." && !name.empty() && children.size() < maxEntries) {
            children.emplace_back(name, std::move(owned));
        }
    }
    sftp_closedir(dir);
    bool removed = true;
    for (const auto& [name, child] : children) {
        removed = removeItem(joinPath(relative, name), *child->value, uid, depth + 1) && removed;
    }
    watch.renew();
    if (removed && sftp_rmdir(sftp, path.c_str()) != SSH_OK) {
        noteSftpFailure("remove", relative);
        return false;
    }
    return removed;
}

bool RemoteServerFolder::removeTree(const std::string& relative) {
    if (relative.empty() || !validName(relative, "remove")) {
        return false;
    }
    const std::optional<std::uint32_t> uid = ownUid();
    sftp_session sftp = connection_->sftp();
    if (!uid || sftp == nullptr) {
        noteSftpFailure("remove", relative);
        return false;
    }
    const SshConnection::Watch watch(*connection_, sftpSeconds);
    const Attributes attributes(sftp_lstat(sftp, absolute(relative).c_str()));
    if (!attributes) {
        if (sftp_get_error(sftp) == SSH_FX_NO_SUCH_FILE) {
            return true;
        }
        noteSftpFailure("remove", relative);
        return false;
    }
    return removeItem(relative, *attributes.value, *uid, 0);
}

bool RemoteServerFolder::countItem(const std::string& relative,
                                   const sftp_attributes_struct& attributes, TreeTotals& totals,
                                   int depth) {
    switch (kindOf(attributes)) {
    case ItemKind::RegularFile:
        ++totals.files;
        totals.bytes += attributes.size;
        return true;
    case ItemKind::SymbolicLink:
        ++totals.files;
        return true;
    case ItemKind::Folder:
        break;
    default:
        return true;
    }
    ++totals.folders;
    sftp_session sftp = connection_->sftp();
    if (sftp == nullptr || depth > maxDepth) {
        noteSftpFailure("count", relative);
        return false;
    }
    SshConnection::Watch watch(*connection_, sftpSeconds);
    sftp_dir dir = sftp_opendir(sftp, absolute(relative).c_str());
    if (dir == nullptr) {
        noteSftpFailure("count", relative);
        return false;
    }
    std::vector<std::pair<std::string, std::unique_ptr<Attributes>>> folders;
    while (sftp_attributes entry = sftp_readdir(sftp, dir)) {
        watch.renew();
        auto owned = std::make_unique<Attributes>(entry);
        const std::string name = entry->name != nullptr ? entry->name : "";
        if (name == "." || name == ".." || name.empty()) {
            continue;
        }
        if (kindOf(*entry) == ItemKind::Folder) {
            folders.emplace_back(name, std::move(owned));
        } else {
            countItem(joinPath(relative, name), *entry, totals, depth + 1);
        }
    }
    const bool complete = sftp_dir_eof(dir) != 0;
    sftp_closedir(dir);
    if (!complete) {
        noteSftpFailure("count", relative);
        return false;
    }
    for (const auto& [name, child] : folders) {
        if (!countItem(joinPath(relative, name), *child->value, totals, depth + 1)) {
            return false;
        }
    }
    return true;
}

std::optional<TreeTotals> RemoteServerFolder::countTree(const std::string& relative) {
    sftp_session sftp = connection_->sftp();
    if (!validName(relative, "count")) {
        return std::nullopt;
    }
    // With a shell, one command instead of a round trip per folder; where find cannot print
    // (busybox), SFTP counts.
    if (connection_->hasProgram("find")) {
        const std::optional<CommandResult> counted = connection_->run(
            "find -P " + shellQuote(absolute(relative)) +
                " -printf '%y %s\\n' | awk '$1 == \"d\" { d++ } $1 == \"f\" { f++; b += $2 } "
                "$1 == \"l\" { f++ } END { printf \"%d %d %.0f\\n\", d, f, b }'",
            {}, 300);
        std::istringstream numbers(counted ? counted->out : std::string());
        TreeTotals totals;
        if (counted && counted->exitStatus == 0 && counted->err.empty() &&
            numbers >> totals.folders >> totals.files >> totals.bytes) {
            return totals;
        }
        if (!connection_->alive()) {
            noteFailure({"count", where(relative), remoteReason(connection_->lastError())});
            return std::nullopt;
        }
    }
    if (sftp == nullptr) {
        noteSftpFailure("count", relative);
        return std::nullopt;
    }
    const SshConnection::Watch watch(*connection_, sftpSeconds);
    const Attributes attributes(sftp_lstat(sftp, absolute(relative).c_str()));
    TreeTotals totals;
    if (!attributes || !countItem(relative, *attributes.value, totals, 0)) {
        if (!attributes) {
            noteSftpFailure("count", relative);
        }
        return std::nullopt;
    }
    return totals;
}

bool RemoteServerFolder::flushFiles(const std::string& relative, int depth) {
    const std::optional<std::vector<std::string>> names = entries(relative);
    if (!names || depth > maxDepth) {
        return false;
    }
    sftp_session sftp = connection_->sftp();
    for (const std::string& name : *names) {
        const std::string child = joinPath(relative, name);
        SshConnection::Watch watch(*connection_, sftpSeconds);
        const Attributes attributes(sftp_lstat(sftp, absolute(child).c_str()));
        if (!attributes) {
            noteSftpFailure("flush", child);
            return false;
        }
        if (kindOf(*attributes.value) == ItemKind::Folder) {
            if (!flushFiles(child, depth + 1)) {
                return false;
            }
        } else if (kindOf(*attributes.value) == ItemKind::RegularFile) {
            File file(sftp_open(sftp, absolute(child).c_str(), O_RDONLY, 0));
            if (file.value == nullptr || sftp_fsync(file.value) != SSH_OK) {
                noteSftpFailure("flush", child);
                return false;
            }
        }
    }
    return true;
}

bool RemoteServerFolder::flush(const std::string& relative) {
    if (!validName(relative, "flush")) {
        return false;
    }
    if (connection_->hasShell()) {
        const std::optional<CommandResult> synced =
            connection_->run("sync -f -- " + shellQuote(absolute(relative)), {}, 300);
        if (!synced || synced->exitStatus != 0) {
            noteFailure({"flush (sync -f)", where(relative),
                         remoteReason(synced ? synced->err : connection_->lastError())});
            return false;
        }
        return true;
    }
    sftp_session sftp = connection_->sftp();
    if (sftp == nullptr) {
        noteSftpFailure("flush", relative);
        return false;
    }
    // A host that offers neither a shell nor fsync@openssh.com writes when it chooses; nothing
    // more can be asked of it.
    if (sftp_extension_supported(sftp, "fsync@openssh.com", "1") == 0) {
        return true;
    }
    const std::optional<ItemInfo> info = itemInfo(relative);
    if (!info) {
        return false;
    }
    if (info->kind == ItemKind::Folder) {
        return flushFiles(relative, 0);
    }
    const SshConnection::Watch watch(*connection_, sftpSeconds);
    File file(sftp_open(sftp, absolute(relative).c_str(), O_RDONLY, 0));
    if (file.value == nullptr || sftp_fsync(file.value) != SSH_OK) {
        noteSftpFailure("flush", relative);
        return false;
    }
    return true;
}

std::unique_ptr<TreeSink> RemoteServerFolder::receiveTree(const std::string& relative,
                                                          const OwnershipPlan& ownership) {
    if (relative.empty() || !validName(relative, "create")) {
        return nullptr;
    }
    if (connection_->hasProgram("tar")) {
        const std::optional<Account> who = account();
        if (who) {
            return makeTarSink(*this, relative, ownership, *who);
        }
    }
    if (!connection_->alive()) {
        noteSftpFailure("create", relative);
        return nullptr;
    }
    return makeSftpSink(*this, relative, ownership);
}

std::optional<TrashedItem> RemoteServerFolder::moveToTrash(const std::string& relative) {
    noteFailure({"move to the Trash", where(relative),
                 remoteReason("another computer has no Trash this app can use")});
    return std::nullopt;
}

bool RemoteServerFolder::restoreFromTrash(const TrashedItem& /*trashed*/,
                                          const std::string& relative) {
    noteFailure({"restore from the Trash", where(relative),
                 remoteReason("another computer has no Trash this app can use")});
    return false;
}

namespace {
std::string oldCopyName(const std::string& relative) {
    return joinPath(parentOf(relative), ".plovermantle-old-" + nameOf(relative));
}
} // namespace

void RemoteServerFolder::repairReplace(const std::string& relative) {
    sftp_session sftp = connection_->sftp();
    if (sftp == nullptr) {
        return;
    }
    const SshConnection::Watch watch(*connection_, sftpSeconds);
    const std::string old = absolute(oldCopyName(relative));
    const Attributes oldCopy(sftp_lstat(sftp, old.c_str()));
    if (!oldCopy || kindOf(*oldCopy.value) != ItemKind::RegularFile ||
        (uid_ && oldCopy.value->uid != *uid_)) {
        return;
    }
    const Attributes current(sftp_lstat(sftp, absolute(relative).c_str()));
    if (current) {
        sftp_unlink(sftp, old.c_str()); // the new file made it into place
    } else if (sftp_get_error(sftp) == SSH_FX_NO_SUCH_FILE) {
        sftp_rename(sftp, old.c_str(), absolute(relative).c_str());
    }
}

bool RemoteServerFolder::replaceFile(const std::string& temporary, const std::string& relative) {
    if (connection_->hasProgram("mv")) {
        const std::optional<CommandResult> moved = connection_->run(
            "mv -f -T -- " + shellQuote(absolute(temporary)) + ' ' + shellQuote(absolute(relative)),
            {}, 60);
        if (!moved || moved->exitStatus != 0) {
            noteFailure({"replace (mv -f)", where(relative),
                         remoteReason(moved ? moved->err : connection_->lastError())});
            return false;
        }
        return true;
    }
    // SFTP renames never replace: the old file steps aside first, and at every moment either it
    // or the new one is whole on the disk; repairReplace finishes a sequence a lost connection
    // broke.
    sftp_session sftp = connection_->sftp();
    if (sftp == nullptr) {
        noteSftpFailure("replace", relative);
        return false;
    }
    const SshConnection::Watch watch(*connection_, sftpSeconds);
    const std::string target = absolute(relative);
    const std::string old = absolute(oldCopyName(relative));
    const Attributes current(sftp_lstat(sftp, target.c_str()));
    const bool hadOld = static_cast<bool>(current);
    if (hadOld && sftp_rename(sftp, target.c_str(), old.c_str()) != SSH_OK) {
        noteSftpFailure("move aside", relative);
        return false;
    }
    if (sftp_rename(sftp, absolute(temporary).c_str(), target.c_str()) != SSH_OK) {
        noteSftpFailure("replace", relative);
        if (hadOld) {
            sftp_rename(sftp, old.c_str(), target.c_str());
        }
        return false;
    }
    if (hadOld) {
        sftp_unlink(sftp, old.c_str());
    }
    return true;
}

std::optional<TextFile> RemoteServerFolder::readTextFile(const std::string& relative,
                                                         std::size_t maxBytes) {
    if (!validName(relative, "read") || relative.empty()) {
        return std::nullopt;
    }
    repairReplace(relative);
    std::string path = relative;
    std::optional<ItemInfo> info = itemInfo(path);
    if (!info) {
        return std::nullopt;
    }
    if (info->kind == ItemKind::SymbolicLink) {
        // Followed only when the account made it and it leads to a regular file in the folder.
        if (!info->ownedByUser) {
            noteFailure({"read", where(relative), make_error_code(FileProblem::ForeignLink)});
            return std::nullopt;
        }
        sftp_session sftp = connection_->sftp();
        const SshConnection::Watch watch(*connection_, sftpSeconds);
        char* target = sftp_readlink(sftp, absolute(relative).c_str());
        if (target == nullptr) {
            noteSftpFailure("read the link", relative);
            return std::nullopt;
        }
        std::string resolved = target;
        ssh_string_free_char(target);
        const std::string root = destination_.path == "/" ? std::string() : destination_.path;
        if (!resolved.empty() && resolved.front() == '/') {
            if (resolved.rfind(root + '/', 0) != 0) {
                resolved.clear();
            } else {
                resolved = resolved.substr(root.size() + 1);
            }
        } else {
            resolved = joinPath(parentOf(relative), resolved);
        }
        // Lexically inside the folder, every step named.
        std::vector<std::string> parts;
        std::istringstream steps(resolved);
        std::string step;
        bool inside = !resolved.empty();
        while (inside && std::getline(steps, step, '/')) {
            if (step == "..") {
                inside = !parts.empty();
                if (inside) {
                    parts.pop_back();
                }
            } else if (!step.empty() && step != ".") {
                parts.push_back(step);
            }
        }
        path.clear();
        for (const std::string& part : parts) {
            path = joinPath(path, part);
        }
        if (!inside || path.empty()) {
            noteFailure({"read", where(relative), make_error_code(FileProblem::LinkNotFollowed)});
            return std::nullopt;
        }
        info = itemInfo(path);
        if (!info) {
            return std::nullopt;
        }
    }
    if (info->kind == ItemKind::Missing) {
        noteFailure(
            {"read", where(path), std::make_error_code(std::errc::no_such_file_or_directory)});
        return std::nullopt;
    }
    if (info->kind != ItemKind::RegularFile) {
        noteFailure({"read", where(path), make_error_code(FileProblem::NotRegularFile)});
        return std::nullopt;
    }
    if (info->size > maxBytes) {
        noteFailure({"read", where(path), std::make_error_code(std::errc::file_too_large)});
        return std::nullopt;
    }
    sftp_session sftp = connection_->sftp();
    SshConnection::Watch watch(*connection_, sftpSeconds);
    File file(sftp_open(sftp, absolute(path).c_str(), O_RDONLY, 0));
    if (file.value == nullptr) {
        noteSftpFailure("read", path);
        return std::nullopt;
    }
    std::string text;
    char buffer[32768];
    while (true) {
        const ssize_t got = sftp_read(file.value, buffer, sizeof buffer);
        if (got < 0) {
            noteSftpFailure("read", path);
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        watch.renew();
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > maxBytes) {
            noteFailure({"read", where(path), std::make_error_code(std::errc::file_too_large)});
            return std::nullopt;
        }
    }
    if (!validUtf8(text)) {
        noteFailure({"read", where(path), make_error_code(FileProblem::NotUtf8Text)});
        return std::nullopt;
    }
    return TextFile{std::move(text), path, *info}; // relative: written back through this folder
}

bool RemoteServerFolder::writeFileAtomically(const std::string& relative, std::string_view contents,
                                             const ItemInfo& like) {
    if (relative.empty() || !validName(relative, "write")) {
        return false;
    }
    repairReplace(relative);
    sftp_session sftp = connection_->sftp();
    if (sftp == nullptr) {
        noteSftpFailure("write", relative);
        return false;
    }
    const std::string temporary = joinPath(
        parentOf(relative), ".plovermantle-new-" + randomLetters(6) + '-' + nameOf(relative));
    const std::string path = absolute(temporary);
    SshConnection::Watch watch(*connection_, sftpSeconds);
    File file(sftp_open(sftp, path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600));
    if (file.value == nullptr) {
        noteSftpFailure("write", temporary);
        return false;
    }
    auto abandon = [&](const std::string& operation) {
        noteSftpFailure(operation, temporary);
        if (file.value != nullptr) {
            file.close();
        }
        sftp_unlink(sftp, path.c_str());
        return false;
    };
    while (!contents.empty()) {
        const std::size_t chunk = std::min<std::size_t>(contents.size(), 128 * 1024);
        const ssize_t wrote = sftp_write(file.value, contents.data(), chunk);
        if (wrote <= 0) {
            return abandon("write");
        }
        watch.renew();
        contents.remove_prefix(static_cast<std::size_t>(wrote));
    }
    if (sftp_extension_supported(sftp, "fsync@openssh.com", "1") != 0 &&
        sftp_fsync(file.value) != SSH_OK) {
        return abandon("flush");
    }
    if (!file.close()) {
        return abandon("write");
    }
    // The group of the file it replaces where the account may give it; the group's bits only
    // then, so that the new file is never more readable than the old one.
    std::uint32_t permissions = like.kind == ItemKind::Missing ? 0644 : like.permissions & 0777;
    const Attributes made(sftp_lstat(sftp, path.c_str()));
    if (!made) {
        return abandon("write");
    }
    if (like.kind != ItemKind::Missing &&
        (made.value->uid != like.owner || made.value->gid != like.group)) {
        if (sftp_chown(sftp, path.c_str(), like.owner, like.group) != SSH_OK &&
            sftp_chown(sftp, path.c_str(), made.value->uid, like.group) != SSH_OK) {
            permissions &= ~0070U;
        }
    }
    if (sftp_chmod(sftp, path.c_str(), permissions) != SSH_OK) {
        return abandon("set the permissions of");
    }
    if (!replaceFile(temporary, relative)) {
        sftp_unlink(sftp, path.c_str());
        return false;
    }
    return true;
}

std::optional<bool> RemoteServerFolder::isLockHeld(const std::string& relative) {
    if (!validName(relative, "look for the lock of") || !connection_->hasProgram("perl")) {
        return std::nullopt;
    }
    const std::optional<CommandResult> probe =
        connection_->run("perl - " + shellQuote(absolute(relative)), lockProbe, 30);
    if (!probe || (probe->exitStatus != 0 && probe->exitStatus != 1)) {
        noteFailure({"look for the lock of", where(relative),
                     remoteReason(probe ? "perl: " + probe->err : connection_->lastError())});
        return std::nullopt;
    }
    return probe->exitStatus == 1;
}

CopyLockAttempt RemoteServerFolder::lockExclusively(const std::string& relative) {
    CopyLockAttempt attempt;
    sftp_session sftp = connection_->sftp();
    if (relative.empty() || !validName(relative, "lock")) {
        return attempt;
    }
    if (sftp == nullptr) {
        noteSftpFailure("lock", relative);
        return attempt;
    }
    const std::string path = absolute(relative);
    for (int round = 0; round < 2; ++round) {
        const std::string since =
            QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();
        const std::string text = "host=" + QSysInfo::machineHostName().toStdString() +
                                 "\npid=" + std::to_string(::getpid()) + "\nsince=" + since + '\n';
        SshConnection::Watch watch(*connection_, sftpSeconds);
        File file(sftp_open(sftp, path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644));
        if (file.value != nullptr) {
            const bool written = sftp_write(file.value, text.data(), text.size()) ==
                                 static_cast<ssize_t>(text.size());
            if (!file.close() || !written) {
                noteSftpFailure("write the lock", relative);
                sftp_unlink(sftp, path.c_str());
                return attempt;
            }
            const Attributes made(sftp_lstat(sftp, path.c_str()));
            if (made && !uid_) {
                uid_ = made.value->uid;
            }
            attempt.outcome = LockOutcome::Taken;
            attempt.lock = std::make_unique<RemoteCopyLock>(connection_, path, since);
            return attempt;
        }
        // SFTP version 3 answers only "failure" when the file exists: look.
        const Attributes there(sftp_lstat(sftp, path.c_str()));
        if (!there) {
            noteSftpFailure("create the lock", relative);
            return attempt;
        }
        std::optional<LockText> holder;
        if (kindOf(*there.value) == ItemKind::RegularFile && there.value->size < 4096) {
            File existing(sftp_open(sftp, path.c_str(), O_RDONLY, 0));
            char buffer[4096];
            const ssize_t got =
                existing.value != nullptr ? sftp_read(existing.value, buffer, sizeof buffer) : -1;
            if (got > 0) {
                holder = parseLock(std::string(buffer, static_cast<std::size_t>(got)));
            }
        }
        if (holder) {
            attempt.holder = {holder->host, holder->pid, holder->since, true};
        }
        if (!holder || round > 0 || !abandoned(*holder)) {
            attempt.outcome = LockOutcome::HeldElsewhere;
            return attempt;
        }
        // Taken over by moving it to a name of our own first, so that two copies taking over the
        // same lock at once cannot both win.
        const std::string aside = path + ".stale-" + randomLetters(6);
        if (sftp_rename(sftp, path.c_str(), aside.c_str()) != SSH_OK) {
            attempt.outcome = LockOutcome::HeldElsewhere;
            return attempt;
        }
        sftp_unlink(sftp, aside.c_str());
        attempt.holder = {};
    }
    attempt.outcome = LockOutcome::HeldElsewhere;
    return attempt;
}

bool RemoteServerFolder::breakLock(const std::string& relative) {
    sftp_session sftp = connection_->sftp();
    if (relative.empty() || !validName(relative, "remove the lock")) {
        return false;
    }
    const SshConnection::Watch watch(*connection_, sftpSeconds);
    if (sftp == nullptr || (sftp_unlink(sftp, absolute(relative).c_str()) != SSH_OK &&
                            sftp_get_error(sftp) != SSH_FX_NO_SUCH_FILE)) {
        noteSftpFailure("remove the lock", relative);
        return false;
    }
    return true;
}

} // namespace Plovermantle
