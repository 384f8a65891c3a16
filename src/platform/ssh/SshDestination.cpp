#include "platform/ssh/SshDestination.h"

#include <algorithm>
#include <charconv>

namespace Plovermantle {

namespace {

bool hasControl(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// A user name ssh itself would pass on: nothing that starts an option or splits a command line.
bool validUser(std::string_view user) {
    return !user.empty() && user.front() != '-' && !hasControl(user) &&
           user.find_first_of(" /:@'\"\\") == std::string_view::npos;
}

bool validHost(std::string_view host) {
    if (host.empty() || host.front() == '-' || host.size() > 255) {
        return false;
    }
    return std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '-' || c == '_' || c == ':' || c == '%';
    });
}

bool validPath(std::string_view path) {
    return !path.empty() && path.front() == '/' && !hasControl(path);
}

// "user@host" or "host", the host possibly in brackets (an IPv6 address); the rest after it.
bool splitUserHost(std::string_view text, SshDestination& out, std::string_view& rest) {
    const std::size_t at = text.find('@');
    const std::size_t end = text.find_first_of(":/");
    if (at != std::string_view::npos && (end == std::string_view::npos || at < end)) {
        out.user = std::string(text.substr(0, at));
        if (!validUser(out.user)) {
            return false;
        }
        text.remove_prefix(at + 1);
    }
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) {
            return false;
        }
        out.host = std::string(text.substr(1, close - 1));
        rest = text.substr(close + 1);
    } else {
        const std::size_t stop = text.find_first_of(":/");
        out.host = std::string(text.substr(0, stop));
        rest = stop == std::string_view::npos ? std::string_view() : text.substr(stop);
        if (out.host.find(':') != std::string::npos) {
            return false;
        }
    }
    return validHost(out.host);
}

} // namespace

std::string SshDestination::text() const {
    const std::string who = user.empty() ? std::string() : user + '@';
    const std::string name = host.find(':') != std::string::npos ? '[' + host + ']' : host;
    if (port) {
        return "ssh://" + who + name + ':' + std::to_string(*port) + path;
    }
    return who + name + ':' + path;
}

ParsedDestination parseDestination(std::string_view text) {
    ParsedDestination parsed;
    constexpr std::string_view scheme = "ssh://";
    if (text.substr(0, scheme.size()) == scheme) {
        std::string_view rest;
        if (!splitUserHost(text.substr(scheme.size()), parsed.remote, rest)) {
            return {};
        }
        if (!rest.empty() && rest.front() == ':') {
            const std::size_t slash = rest.find('/');
            const std::string_view digits = rest.substr(
                1, slash == std::string_view::npos ? std::string_view::npos : slash - 1);
            int port = 0;
            const auto [end, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), port);
            if (error != std::errc() || end != digits.data() + digits.size() || port < 1 ||
                port > 65535) {
                return {};
            }
            parsed.remote.port = port;
            rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
        }
        parsed.remote.path = std::string(rest);
        parsed.kind =
            validPath(parsed.remote.path) ? DestinationKind::Remote : DestinationKind::Invalid;
        return parsed;
    }
    // As scp reads it: a colon before any slash makes it remote; "./a:b" stays a local path.
    const std::size_t colon = text.find(':');
    const std::size_t slash = text.find('/');
    const bool bracketed = !text.empty() && (text.front() == '[' || text.find("@[") < colon);
    if (text.empty() || (!bracketed && (colon == std::string_view::npos ||
                                        (slash != std::string_view::npos && slash < colon)))) {
        parsed.kind = DestinationKind::Local;
        return parsed;
    }
    std::string_view rest;
    if (!splitUserHost(text, parsed.remote, rest) || rest.empty() || rest.front() != ':') {
        return {};
    }
    parsed.remote.path = std::string(rest.substr(1));
    parsed.kind =
        validPath(parsed.remote.path) ? DestinationKind::Remote : DestinationKind::Invalid;
    return parsed;
}

} // namespace Plovermantle
