#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace Plovermantle::Testing {

// Builds a tree under `root` from short entries, in order; names may hold "/" to nest:
//   "d:name" a folder, "d:name:0555" one with those permission bits (set as the entry is reached,
//   so list a read-only folder's contents before it), "f:name=contents" a file, "f:name=text:0640"
//   one with those bits, "l:name>target" a symbolic link, "p:name" a named pipe, "s:name" a
//   listening socket.
void buildTree(const std::filesystem::path& root, const std::vector<std::string>& entries);

// Every item at and under `path`, links not followed, keyed by the path relative to `path` ("" for
// itself): its kind, permission bits, modification time to the nanosecond, and a file's contents
// or a link's target. Pipes, sockets and devices are left out when `withSpecial` is false.
std::map<std::string, std::string> snapshotTree(const std::filesystem::path& path,
                                                bool withSpecial = true);

// Lets the owner into every folder under `root` again, so that a test's temporary folder can be
// removed by a user who is not the superuser after it made read-only folders.
void makeRemovable(const std::filesystem::path& root);

// The names directly in `folder` that start with ".plovermantle", sorted.
std::vector<std::string> workingFoldersIn(const std::filesystem::path& folder);

} // namespace Plovermantle::Testing
