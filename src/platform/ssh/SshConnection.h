#pragma once

#include "platform/FileSystem.h"
#include "platform/RemoteHostPrompts.h"
#include "platform/ssh/SshDestination.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

struct ssh_session_struct;
struct ssh_channel_struct;
struct sftp_session_struct;

namespace Plovermantle {

// An error code whose message is a reason the server gave in its own words (a command's error
// output, an SFTP status), kept so that FileFailure can carry it.
std::error_code remoteReason(std::string message);

struct ConnectSettings {
    std::string home;        // the app's idea of home: ~/.ssh is read and written only there
    int timeoutSeconds = 15; // for the host to answer and for the login
    const std::atomic<bool>* cancel = nullptr; // set by the user to stop connecting
};

// What a command run on the host answered.
struct CommandResult {
    int exitStatus = -1;
    std::string out;
    std::string err;
};

// One logged-in SSH connection with its SFTP session. Used from one thread at a time. A watchdog
// cuts the connection when an operation overruns its time, so a host that stops answering is a
// failure and never a hang; once cut, every operation fails at once.
class SshConnection {
public:
    // Connects, checks the host key against known_hosts (asking about a new one) and logs in.
    // Nothing on failure, with why in `failure`.
    static std::unique_ptr<SshConnection> open(const SshDestination& destination,
                                               RemoteHostPrompts& prompts,
                                               const ConnectSettings& settings,
                                               FileFailure& failure);
    ~SshConnection();
    SshConnection(const SshConnection&) = delete;
    SshConnection& operator=(const SshConnection&) = delete;

    // "user@host", for failure details.
    const std::string& label() const { return label_; }
    bool alive() const;
    // Why the connection failed, in libssh's words.
    std::string lastError() const;

    ssh_session_struct* session() const { return session_; }
    // The SFTP session, started on first use; nothing when the host offers none.
    sftp_session_struct* sftp();

    // Runs `command` through the account's shell with `input` on its standard input; nothing when
    // the host runs no commands for this account or the connection fails. Output is bounded.
    std::optional<CommandResult> run(const std::string& command, std::string_view input = {},
                                     int timeoutSeconds = 60);
    // Whether the account has a POSIX shell here (an SFTP-only account has none), asked once.
    bool hasShell();
    // Whether the shell finds `program` (tar, perl, mv, find or sync), asked with the shell.
    bool hasProgram(const std::string& program);
    // What `id -u` and `id -G` said, one line; empty without a shell.
    const std::string& ids() const { return ids_; }

    // Until the returned guard goes, the connection is cut when `seconds` pass without renew().
    class Watch {
    public:
        Watch(SshConnection& connection, int seconds);
        ~Watch();
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;
        void renew();

    private:
        SshConnection& connection_;
        int seconds_;
    };

private:
    SshConnection() = default;
    void watchdog();

    ssh_session_struct* session_ = nullptr;
    sftp_session_struct* sftp_ = nullptr;
    bool sftpTried_ = false;
    std::string label_;
    std::shared_ptr<void> auth_; // the login's callbacks, which libssh keeps pointing at
    std::optional<bool> shell_;
    std::vector<std::string> programs_;
    std::string ids_;

    std::mutex watchMutex_;
    std::condition_variable watchWake_;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    bool stopping_ = false;
    std::atomic<bool> cut_ = false;
    std::thread watchdog_;
};

// Single quotes for a POSIX shell.
std::string shellQuote(const std::string& text);

} // namespace Plovermantle
