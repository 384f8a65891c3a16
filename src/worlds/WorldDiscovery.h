#pragma once

#include <string>
#include <vector>

namespace Plovermantle {

class FileSystem;

// The names of the visible folders directly inside the saves folder, in the file system's order.
// A missing or unreadable saves folder gives an empty list.
std::vector<std::string> listWorlds(FileSystem& files, const std::string& savesFolder);

} // namespace Plovermantle
