#include "worlds/TreeCopy.h"

#include "platform/Paths.h"

namespace Plovermantle {

std::optional<TreePlan> planTreeCopy(FileSystem& files, const std::string& root) {
    const auto rootInfo = files.itemInfo(root);
    if (!rootInfo) {
        return std::nullopt;
    }
    if (rootInfo->kind != ItemKind::Folder) {
        files.noteFailure({"copy", root,
                           rootInfo->kind == ItemKind::Missing
                               ? std::make_error_code(std::errc::no_such_file_or_directory)
                               : std::make_error_code(std::errc::not_a_directory)});
        return std::nullopt;
    }
    TreePlan plan;
    plan.items.push_back({std::string(), *rootInfo});
    // Indexes of the planned folders whose contents are still to be listed; a list rather than
    // recursion, so that the depth of a tree costs no stack.
    std::vector<std::size_t> pending{0};
    while (!pending.empty()) {
        const std::string folder = plan.items[pending.back()].relativePath;
        pending.pop_back();
        const auto names = files.folderEntries(joinPath(root, folder));
        if (!names) {
            return std::nullopt;
        }
        for (const std::string& name : *names) {
            std::string relative = joinPath(folder, name);
            const auto info = files.itemInfo(joinPath(root, relative));
            if (!info) {
                return std::nullopt;
            }
            if (info->kind == ItemKind::Missing) {
                // Gone since the folder was listed.
                files.noteFailure({"copy", joinPath(root, relative),
                                   std::make_error_code(std::errc::no_such_file_or_directory)});
                return std::nullopt;
            }
            switch (info->kind) {
            case ItemKind::Folder:
                pending.push_back(plan.items.size());
                break;
            case ItemKind::RegularFile:
                ++plan.files;
                plan.bytes += info->size;
                break;
            case ItemKind::SymbolicLink:
                ++plan.files;
                break;
            case ItemKind::Special:
            case ItemKind::Missing:
                // Pipes, sockets and devices are never part of a world, and a pipe could stall
                // the copy for good: they are left out.
                continue;
            }
            plan.items.push_back({std::move(relative), *info});
        }
    }
    return plan;
}

TreeCopyResult copyTree(FileSystem& files, const TreePlan& plan, const std::string& source,
                        const std::string& destination, const WorkProgressReport& progress) {
    WorkProgress done{0, plan.files, 0, plan.bytes};
    bool stopped = false;
    const auto report = [&] {
        if (progress && !stopped && !progress(done)) {
            stopped = true;
        }
        return !stopped;
    };
    const auto failed = [&] {
        return stopped ? TreeCopyResult::Stopped : TreeCopyResult::Failed;
    };
    // The totals before anything is done, so a tree of empty folders reaches them too.
    if (!report()) {
        return TreeCopyResult::Stopped;
    }

    for (const TreeItem& item : plan.items) {
        const std::string from = joinPath(source, item.relativePath);
        const std::string to = joinPath(destination, item.relativePath);
        switch (item.info.kind) {
        case ItemKind::Folder:
            if (!files.makeFolder(to)) {
                return failed();
            }
            continue;
        case ItemKind::RegularFile: {
            const ContentProgress contentProgress = [&](std::uint64_t bytes) {
                done.bytesDone += bytes;
                return report();
            };
            if (!files.copyRegularFile(from, to, contentProgress)) {
                return failed();
            }
            break;
        }
        case ItemKind::SymbolicLink: {
            const auto target = files.readSymlink(from);
            if (!target || !files.makeSymlink(*target, to) || !files.setAttributes(to, item.info)) {
                return failed();
            }
            break;
        }
        case ItemKind::Special:
        case ItemKind::Missing:
            continue;
        }
        ++done.filesDone;
        if (!report()) {
            return TreeCopyResult::Stopped;
        }
    }
    // Last, and deepest first: writing into a folder changes its time, and a read-only folder
    // could not be filled once it had its own permissions.
    for (auto it = plan.items.rbegin(); it != plan.items.rend(); ++it) {
        if (it->info.kind != ItemKind::Folder) {
            continue;
        }
        ItemInfo like = it->info;
        if (it->relativePath.empty()) {
            like.permissions |= ownerWritePermission;
        }
        if (!files.setAttributes(joinPath(destination, it->relativePath), like)) {
            return TreeCopyResult::Failed;
        }
    }
    return TreeCopyResult::Copied;
}

} // namespace Plovermantle
