#pragma once

#include "platform/FileSystem.h"
#include "platform/Progress.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Plovermantle {

// One item of a tree, named relative to the tree's root (the root itself is "").
struct TreeItem {
    std::string relativePath;
    ItemInfo info;
};

// Everything a tree copy will make, found in one walk of the source. Every folder comes before
// what it holds.
struct TreePlan {
    std::vector<TreeItem> items;
    std::uint64_t files = 0; // regular files and symbolic links
    std::uint64_t bytes = 0; // the regular files' sizes
};

// Walks the folder `root` without following links. Nothing when `root` is not a folder or any
// part of the tree cannot be examined or listed.
std::optional<TreePlan> planTreeCopy(FileSystem& files, const std::string& root);

enum class TreeCopyResult { Copied, Failed, Stopped };

// The permission bit that lets a folder's owner change what it holds.
inline constexpr std::uint32_t ownerWritePermission = 0200;

// Makes the planned tree of `source` at `destination`, which must not exist yet: folders, regular
// files with their permission bits and times, and links as links. The top folder stays writable by
// its owner, since a folder that is not cannot be moved into another one: a caller that moves the
// copy gives it its own bits afterwards. What was made is left in place when the copy fails or is
// stopped; the caller removes it.
TreeCopyResult copyTree(FileSystem& files, const TreePlan& plan, const std::string& source,
                        const std::string& destination, const WorkProgressReport& progress = {});

} // namespace Plovermantle
