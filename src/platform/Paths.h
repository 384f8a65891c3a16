#pragma once

#include <string>

namespace Plovermantle {

// `base` with the relative path `relative` appended ("" gives `base` itself). Paths are native
// byte strings, joined as bytes: std::filesystem::path would reinterpret them on some platforms.
std::string joinPath(const std::string& base, const std::string& relative);

} // namespace Plovermantle
