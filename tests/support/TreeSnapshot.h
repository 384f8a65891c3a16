#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace Plovermantle::Testing {

// Builds `entries` under `root` in order, with the folders above each: "d:path" a folder,
// "f:path=contents" a file, "l:path>target" a symbolic link, "p:path" a named pipe, and
// "m:path=0555" gives an item those permission bits (so list a read-only folder's contents first).
// Then dates everything under `root` far back, so that a copy that loses a time shows.
void buildTree(const std::filesystem::path& root, const std::vector<std::string>& entries);

// Every item at and under `path`, links not followed, keyed by its path relative to `path` ("" for
// itself): kind, permission bits, modification time, and a file's content hash or a link's target.
// Pipes, sockets and devices are left out. `relative` prefixes the keys.
using Snapshot = std::map<std::string, std::string>;
Snapshot snapshotTree(const std::filesystem::path& path, const std::string& relative = "");

// Lets the owner into every folder under `root`, so that a test's folder holding read-only folders
// can be removed by a user who is not the superuser.
void makeRemovable(const std::filesystem::path& root);

// The names directly in `folder` that start with ".plovermantle", sorted.
std::vector<std::string> workingFoldersIn(const std::filesystem::path& folder);

} // namespace Plovermantle::Testing
