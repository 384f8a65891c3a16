#pragma once

#include "platform/FileSystem.h"
#include "platform/Progress.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace Plovermantle {

// One item of a tree on its way into a server folder, named relative to the tree's root with "/"
// between names (the root itself is ""). Never absolute, never holding "." or "..".
struct TransferItem {
    std::string relativePath;
    ItemKind kind = ItemKind::Missing; // Folder, RegularFile or SymbolicLink only
    std::uint64_t size = 0;            // a regular file's bytes, as the source announced them
    std::uint32_t permissions = 0;     // as the source had them; the sink decides what it keeps
    FileTime modified;
    std::string linkTarget; // for a SymbolicLink
};

// Files and bytes of a tree: what a copy announces, and what a recount must find again.
struct TreeTotals {
    std::uint64_t folders = 0; // the tree's own folder among them
    std::uint64_t files = 0;   // regular files and links
    std::uint64_t bytes = 0;   // the regular files' sizes

    bool operator==(const TreeTotals&) const = default;
};

// A regular file's contents as the source hands them over: a descriptor open for reading (so that
// a local sink can clone or copy in the kernel), or else a reader that fills `buffer` and answers
// how many bytes it put there (0 at the end, nothing on failure).
struct FileContent {
    int fd = -1;
    std::function<std::optional<std::size_t>(char* buffer, std::size_t capacity)> read;
};

// Who the copied items are made for, decided above the folder from what it holds: the server's
// account should be able to write its world.
struct OwnershipPlan {
    std::optional<std::uint32_t> owner; // chown to it (only the superuser can)
    std::optional<std::uint32_t> group; // chgrp to it
    bool groupWritable = false;         // group write wherever the owner has write
};

// Where a tree is received: items arrive parents first. Every call answers false on failure, with
// the reason noted on the folder it belongs to. A sink that is dropped without finish() leaves
// what it made for the caller to remove.
class TreeSink {
public:
    virtual ~TreeSink() = default;
    virtual bool makeFolder(const TransferItem& item) = 0;
    // Writes the whole file; `progress` is told the bytes as they go and may stop it.
    virtual bool writeFile(const TransferItem& item, FileContent& content,
                           const ContentProgress& progress) = 0;
    virtual bool makeLink(const TransferItem& item) = 0;
    // Gives folders their own bits and times, last, and waits until the far end has taken
    // everything.
    virtual bool finish() = 0;
    // Whether a failure was a file of the source changing while it was copied, found only after
    // writeFile() answered.
    virtual bool sourceChanged() const { return false; }
};

} // namespace Plovermantle
