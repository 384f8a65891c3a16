#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace Plovermantle {

// The most of an instance.cfg that is read: a real one is a few hundred bytes.
inline constexpr std::size_t instanceConfigReadLimit = 64 * 1024;
// The longest instance name kept, in bytes; a longer one is cut at a character's boundary.
inline constexpr std::size_t instanceNameLimit = 200;

// The display name in a launcher instance's instance.cfg (its `name=` entry, top level or under
// [General]), decoded from the quoting and escapes an INI writer uses: text that is never empty,
// holds no control character and is at most instanceNameLimit bytes. Nothing when there is no
// usable name. Any bytes at all are accepted; bytes that are not UTF-8 pass through as they are.
std::optional<std::string> instanceNameFromConfig(std::string_view config);

} // namespace Plovermantle
