#include "platform/ssh/RemoteTreeSinks.h"

#include "platform/Paths.h"
#include "platform/ssh/RemoteServerFolder.h"

#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <fcntl.h>
#include <libssh/libssh.h>
#include <libssh/sftp.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <utility>

namespace Plovermantle {

namespace {

constexpr std::size_t chunkBytes = 128 * 1024;
constexpr int stallSeconds = 60;

// What the sink keeps of the source's bits: never set-id or sticky, group write where planned.
std::uint32_t keptPermissions(std::uint32_t permissions, const OwnershipPlan& ownership) {
    std::uint32_t kept = permissions & 0777;
    if (ownership.groupWritable) {
        kept |= (kept & 0200) >> 3;
    }
    return kept;
}

// Reads the next piece of a file's contents; nothing on failure.
std::optional<std::size_t> readContent(FileContent& content, char* buffer, std::size_t capacity) {
    if (content.fd >= 0) {
        while (true) {
            const ssize_t got = ::read(content.fd, buffer, capacity);
            if (got >= 0) {
                return static_cast<std::size_t>(got);
            }
            if (errno != EINTR) {
                return std::nullopt;
            }
        }
    }
    if (content.read) {
        return content.read(buffer, capacity);
    }
    return std::nullopt;
}

// Sends one file's contents through `write`, checking them against the size announced.
enum class Sent { Whole, Failed, Stopped, SizeChanged };
template <typename Write>
Sent sendContent(const TransferItem& item, FileContent& content, const ContentProgress& progress,
                 Write&& write) {
    std::vector<char> buffer(chunkBytes);
    std::uint64_t sent = 0;
    while (true) {
        const std::optional<std::size_t> got = readContent(content, buffer.data(), buffer.size());
        if (!got) {
            return Sent::Failed;
        }
        if (*got == 0) {
            return sent == item.size ? Sent::Whole : Sent::SizeChanged;
        }
        if (sent + *got > item.size) {
            return Sent::SizeChanged;
        }
        if (!write(buffer.data(), *got)) {
            return Sent::Failed;
        }
        sent += *got;
        if (progress && !progress(*got)) {
            return Sent::Stopped;
        }
    }
}

// The root of a received tree, made over SFTP: refused when anything is there already.
bool makeRoot(RemoteServerFolder& folder, const std::string& relative) {
    sftp_session sftp = folder.connection().sftp();
    const SshConnection::Watch watch(folder.connection(), stallSeconds);
    if (sftp == nullptr || sftp_mkdir(sftp, folder.absolute(relative).c_str(), 0700) != SSH_OK) {
        folder.noteSftpFailure("create the folder", relative);
        return false;
    }
    return true;
}

bool setAttributes(RemoteServerFolder& folder, const std::string& relative,
                   const TransferItem& item, const OwnershipPlan& ownership) {
    sftp_session sftp = folder.connection().sftp();
    const SshConnection::Watch watch(folder.connection(), stallSeconds);
    const std::string path = folder.absolute(relative);
    if (sftp == nullptr) {
        folder.noteSftpFailure("set the attributes of", relative);
        return false;
    }
    if (ownership.owner || ownership.group) {
        sftp_attributes now = sftp_lstat(sftp, path.c_str());
        const bool owned =
            now != nullptr && sftp_chown(sftp, path.c_str(), ownership.owner.value_or(now->uid),
                                         ownership.group.value_or(now->gid)) == SSH_OK;
        sftp_attributes_free(now);
        if (!owned) {
            folder.noteSftpFailure("change the owner of", relative);
            return false;
        }
    }
    const timeval times[2] = {{static_cast<time_t>(item.modified.seconds), 0},
                              {static_cast<time_t>(item.modified.seconds), 0}};
    if (sftp_chmod(sftp, path.c_str(), keptPermissions(item.permissions, ownership)) != SSH_OK ||
        sftp_utimes(sftp, path.c_str(), times) != SSH_OK) {
        folder.noteSftpFailure("set the attributes of", relative);
        return false;
    }
    return true;
}

class TarSink : public TreeSink {
public:
    TarSink(RemoteServerFolder& folder, std::string relative, OwnershipPlan ownership,
            const Account& account)
        : folder_(folder), connection_(folder.connection()), relative_(std::move(relative)),
          ownership_(ownership), uid_(ownership.owner.value_or(account.uid)),
          gid_(ownership.group.value_or(account.groups.empty() ? 0 : account.groups.front())) {}

    ~TarSink() override {
        broken_ = true;
        if (archive_ != nullptr) {
            archive_write_free(archive_);
        }
        if (channel_ != nullptr) {
            // Stopped half way: tar meets the end of its input and stops. It is waited for, a
            // while, so that the caller can remove what it made without racing it.
            if (connection_.alive() && ssh_channel_is_open(channel_) != 0) {
                const SshConnection::Watch watch(connection_, 20);
                ssh_channel_send_eof(channel_);
                char buffer[4096];
                while (connection_.alive() && ssh_channel_is_eof(channel_) == 0 &&
                       ssh_channel_read_timeout(channel_, buffer, sizeof buffer, 1, 500) !=
                           SSH_ERROR) {
                    ssh_channel_read_nonblocking(channel_, buffer, sizeof buffer, 0);
                }
                ssh_channel_get_exit_status(channel_);
            }
            ssh_channel_close(channel_);
            ssh_channel_free(channel_);
        }
    }
    TarSink(const TarSink&) = delete;
    TarSink& operator=(const TarSink&) = delete;

    bool makeFolder(const TransferItem& item) override {
        if (item.relativePath.empty()) {
            // The root's own entry gives it its bits and times at the end, as tar does for every
            // folder, without a round trip of its own.
            const TransferItem root{std::string(1, '.'), item.kind,     item.size,
                                    item.permissions,    item.modified, item.linkTarget};
            return makeRoot(folder_, relative_) && start() && entry(root, AE_IFDIR, 0, nullptr);
        }
        return entry(item, AE_IFDIR, 0, nullptr) && !broken_;
    }

    bool writeFile(const TransferItem& item, FileContent& content,
                   const ContentProgress& progress) override {
        if (!entry(item, AE_IFREG, item.size, nullptr)) {
            return false;
        }
        bool sendFailed = false;
        const Sent sent =
            sendContent(item, content, progress, [&](const char* data, std::size_t size) {
                sendFailed =
                    archive_write_data(archive_, data, size) != static_cast<la_ssize_t>(size);
                return !sendFailed;
            });
        if (sent != Sent::Whole) {
            // The archive now disagrees with its own header: nothing more can be sent through it.
            broken_ = true;
            if (sent == Sent::Failed && sendFailed) {
                fail("send " + item.relativePath + " to", "");
            } else if (sent == Sent::Failed) {
                folder_.noteFailure({"read the source of",
                                     folder_.where(joinPath(relative_, item.relativePath)),
                                     std::error_code(errno, std::generic_category())});
            } else if (sent == Sent::SizeChanged) {
                folder_.noteFailure({"send", folder_.where(joinPath(relative_, item.relativePath)),
                                     remoteReason("the file changed size while it was sent")});
            }
            return false;
        }
        return true;
    }

    bool makeLink(const TransferItem& item) override {
        return entry(item, AE_IFLNK, 0, item.linkTarget.c_str());
    }

    bool finish() override {
        if (broken_ || archive_ == nullptr) {
            return false;
        }
        const bool closed = archive_write_close(archive_) == ARCHIVE_OK;
        archive_write_free(std::exchange(archive_, nullptr));
        if (!closed || broken_) {
            fail("send the world to", "");
            return false;
        }
        const SshConnection::Watch watch(connection_, stallSeconds);
        ssh_channel_send_eof(channel_);
        // tar answers once it has written everything.
        char buffer[4096];
        while (connection_.alive() && ssh_channel_is_eof(channel_) == 0) {
            const int got = ssh_channel_read_timeout(channel_, buffer, sizeof buffer, 1, 500);
            if (got == SSH_ERROR) {
                break;
            }
            keepError(buffer, got);
            if (ssh_channel_read_timeout(channel_, buffer, sizeof buffer, 0, 0) == SSH_ERROR) {
                break;
            }
        }
        for (int got = 1; got > 0;) {
            got = ssh_channel_read_nonblocking(channel_, buffer, sizeof buffer, 1);
            keepError(buffer, got);
        }
        const int status = connection_.alive() ? ssh_channel_get_exit_status(channel_) : -1;
        if (status != 0) {
            fail("extract the world (tar -x) in", "");
            return false;
        }
        return true;
    }

private:
    bool start() {
        const SshConnection::Watch watch(connection_, stallSeconds);
        channel_ = ssh_channel_new(connection_.session());
        // Folders get their times and bits once everything is in, whatever order items came in.
        std::string command = "exec tar -x -p --delay-directory-restore -f - -C " +
                              shellQuote(folder_.absolute(relative_));
        command += ownership_.owner || ownership_.group ? " --same-owner --numeric-owner"
                                                        : " --no-same-owner";
        if (channel_ == nullptr || ssh_channel_open_session(channel_) != SSH_OK ||
            ssh_channel_request_exec(channel_, command.c_str()) != SSH_OK) {
            fail("start tar -x in", "");
            broken_ = true;
            return false;
        }
        archive_ = archive_write_new();
        if (archive_write_set_format_pax_restricted(archive_) != ARCHIVE_OK ||
            archive_write_set_bytes_per_block(archive_, 64 * 1024) != ARCHIVE_OK ||
            archive_write_open(archive_, this, nullptr, &TarSink::send, nullptr) != ARCHIVE_OK) {
            fail("start the archive for",
                 archive_error_string(archive_) != nullptr ? archive_error_string(archive_) : "");
            broken_ = true;
            return false;
        }
        return true;
    }

    bool entry(const TransferItem& item, unsigned type, std::uint64_t size, const char* link) {
        if (broken_ || archive_ == nullptr) {
            return false;
        }
        archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, item.relativePath.c_str());
        archive_entry_set_filetype(e, type);
        archive_entry_set_perm(e, type == AE_IFLNK ? 0777
                                                   : keptPermissions(item.permissions, ownership_));
        archive_entry_set_size(e, static_cast<la_int64_t>(size));
        archive_entry_set_mtime(e, item.modified.seconds,
                                static_cast<long>(item.modified.nanoseconds));
        archive_entry_set_uid(e, uid_);
        archive_entry_set_gid(e, gid_);
        if (link != nullptr) {
            archive_entry_set_symlink(e, link);
        }
        const bool written = archive_write_header(archive_, e) == ARCHIVE_OK;
        archive_entry_free(e);
        if (!written) {
            broken_ = true;
            fail("send " + item.relativePath + " to",
                 archive_error_string(archive_) != nullptr ? archive_error_string(archive_) : "");
        }
        return written && !broken_;
    }

    static la_ssize_t send(archive* /*archive*/, void* self, const void* data, size_t size) {
        auto* sink = static_cast<TarSink*>(self);
        if (sink->broken_) {
            return -1;
        }
        const char* bytes = static_cast<const char*>(data);
        std::size_t left = size;
        SshConnection::Watch watch(sink->connection_, stallSeconds);
        while (left > 0) {
            watch.renew();
            // tar's complaints are read as they come, lest a full stderr window stop it reading.
            char buffer[4096];
            for (int stream : {0, 1}) {
                const int got =
                    ssh_channel_read_nonblocking(sink->channel_, buffer, sizeof buffer, stream);
                if (stream == 1) {
                    sink->keepError(buffer, got);
                }
            }
            const int wrote = ssh_channel_write(
                sink->channel_, bytes, static_cast<uint32_t>(std::min<std::size_t>(left, 65536)));
            if (wrote <= 0 || !sink->connection_.alive()) {
                sink->broken_ = true;
                sink->fail("send the world to", "");
                return -1;
            }
            bytes += wrote;
            left -= static_cast<std::size_t>(wrote);
        }
        return static_cast<la_ssize_t>(size);
    }

    void keepError(const char* data, int size) {
        if (size > 0 && errors_.size() < 8192) {
            errors_.append(data, static_cast<std::size_t>(size));
        }
    }

    // Notes the failure with the best reason there is: tar's own words, the connection's, ours.
    void fail(const std::string& operation, const std::string& ours) {
        std::string reason = errors_;
        if (reason.empty() && !connection_.alive()) {
            reason = connection_.lastError();
        }
        if (reason.empty()) {
            reason = ours.empty() ? connection_.lastError() : ours;
        }
        if (reason.empty()) {
            reason = "tar on the host stopped";
        }
        folder_.noteFailure({operation, folder_.where(relative_), remoteReason(reason)});
    }

    RemoteServerFolder& folder_;
    SshConnection& connection_;
    std::string relative_;
    OwnershipPlan ownership_;
    std::uint32_t uid_;
    std::uint32_t gid_;
    ssh_channel channel_ = nullptr;
    archive* archive_ = nullptr;
    bool broken_ = false;
    std::string errors_;
};

class SftpSink : public TreeSink {
public:
    SftpSink(RemoteServerFolder& folder, std::string relative, OwnershipPlan ownership)
        : folder_(folder), relative_(std::move(relative)), ownership_(ownership) {}

    bool makeFolder(const TransferItem& item) override {
        if (item.relativePath.empty()) {
            folders_.push_back(item);
            return makeRoot(folder_, relative_);
        }
        sftp_session sftp = folder_.connection().sftp();
        const SshConnection::Watch watch(folder_.connection(), stallSeconds);
        const std::string relative = joinPath(relative_, item.relativePath);
        if (sftp == nullptr ||
            sftp_mkdir(sftp, folder_.absolute(relative).c_str(), 0700) != SSH_OK) {
            folder_.noteSftpFailure("create the folder", relative);
            return false;
        }
        folders_.push_back(item);
        return true;
    }

    bool writeFile(const TransferItem& item, FileContent& content,
                   const ContentProgress& progress) override {
        sftp_session sftp = folder_.connection().sftp();
        SshConnection::Watch watch(folder_.connection(), stallSeconds);
        const std::string relative = joinPath(relative_, item.relativePath);
        sftp_file file = sftp != nullptr ? sftp_open(sftp, folder_.absolute(relative).c_str(),
                                                     O_WRONLY | O_CREAT | O_EXCL, 0600)
                                         : nullptr;
        if (file == nullptr) {
            folder_.noteSftpFailure("create", relative);
            return false;
        }
        bool writeFailed = false;
        const Sent sent =
            sendContent(item, content, progress, [&](const char* data, std::size_t size) {
                watch.renew();
                const ssize_t wrote = sftp_write(file, data, size);
                writeFailed = wrote != static_cast<ssize_t>(size);
                return !writeFailed;
            });
        const bool closed = sftp_close(file) == SSH_OK;
        if (sent == Sent::SizeChanged) {
            folder_.noteFailure({"send", folder_.where(relative),
                                 remoteReason("the file changed size while it was sent")});
        } else if (sent == Sent::Failed || !closed) {
            if (writeFailed || !closed) {
                folder_.noteSftpFailure("write", relative);
            } else {
                folder_.noteFailure({"read the source of", folder_.where(relative),
                                     std::error_code(errno, std::generic_category())});
            }
        }
        return sent == Sent::Whole && closed && setAttributes(folder_, relative, item, ownership_);
    }

    bool makeLink(const TransferItem& item) override {
        sftp_session sftp = folder_.connection().sftp();
        const SshConnection::Watch watch(folder_.connection(), stallSeconds);
        const std::string relative = joinPath(relative_, item.relativePath);
        if (sftp == nullptr || sftp_symlink(sftp, item.linkTarget.c_str(),
                                            folder_.absolute(relative).c_str()) != SSH_OK) {
            folder_.noteSftpFailure("create the link", relative);
            return false;
        }
        return true;
    }

    bool finish() override {
        // Deepest first, so that a folder made read-only does not stop its children's turn.
        for (auto folder = folders_.rbegin(); folder != folders_.rend(); ++folder) {
            if (!setAttributes(folder_, joinPath(relative_, folder->relativePath), *folder,
                               ownership_)) {
                return false;
            }
        }
        return true;
    }

private:
    RemoteServerFolder& folder_;
    std::string relative_;
    OwnershipPlan ownership_;
    std::vector<TransferItem> folders_;
};

} // namespace

std::unique_ptr<TreeSink> makeTarSink(RemoteServerFolder& folder, const std::string& relative,
                                      const OwnershipPlan& ownership, const Account& account) {
    return std::make_unique<TarSink>(folder, relative, ownership, account);
}

std::unique_ptr<TreeSink> makeSftpSink(RemoteServerFolder& folder, const std::string& relative,
                                       const OwnershipPlan& ownership) {
    return std::make_unique<SftpSink>(folder, relative, ownership);
}

} // namespace Plovermantle
