#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Plovermantle {

// A server folder on another computer, as the user wrote it.
struct SshDestination {
    std::string user;        // empty: as ~/.ssh/config or the local account says
    std::string host;        // a name, an address or a Host alias of ~/.ssh/config
    std::optional<int> port; // empty: as ~/.ssh/config says, else 22
    std::string path;        // absolute on the host

    bool operator==(const SshDestination&) const = default;
    // "[user@]host:/path", or the ssh:// form when a port is given.
    std::string text() const;
};

enum class DestinationKind { Local, Remote, Invalid };

struct ParsedDestination {
    DestinationKind kind = DestinationKind::Invalid;
    SshDestination remote; // when Remote
};

// "[user@]host:/path" (scp's form), "ssh://[user@]host[:port]/path", or else a local path. A user
// or host that could be read as an option, or a remote path that is not absolute, is Invalid.
ParsedDestination parseDestination(std::string_view text);

} // namespace Plovermantle
