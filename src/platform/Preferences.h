#pragma once

#include <optional>
#include <string>

namespace Plovermantle {

// The per-user store of remembered settings. A value written is readable again in this run and in
// later ones.
class Preferences {
public:
    virtual ~Preferences() = default;

    virtual void setString(const std::string& key, const std::string& value) = 0;
    // The string stored under `key`; nothing when the entry is absent or holds something else.
    virtual std::optional<std::string> stringForKey(const std::string& key) = 0;
};

} // namespace Plovermantle
