#include "worlds/StagedCopy.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cctype>

namespace Plovermantle {

namespace {

bool hasWorkingFolderSuffix(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix)) {
        return false;
    }
    const std::string_view suffix = name.substr(prefix.size());
    return suffix.size() == 6 && std::all_of(suffix.begin(), suffix.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) != 0;
           });
}

// An item of the world that gives way to the copy.
struct OldItem {
    std::string name;
    std::string path;
    ItemInfo info;
    bool opened = false;                // made writable by its owner to be moved
    std::optional<TrashedItem> trashed; // where it went in the Trash
};

// Moving a folder into another folder rewrites its ".." entry, which its owner may only do with
// write permission: a read-only world of ours is opened for the move.
void openForMove(FileSystem& files, OldItem& item) {
    if (item.info.kind != ItemKind::Folder || !item.info.ownedByUser ||
        (item.info.permissions & ownerWritePermission) != 0) {
        return;
    }
    ItemInfo writable = item.info;
    writable.permissions |= ownerWritePermission;
    item.opened = files.setAttributes(item.path, writable);
}

bool putBackFromTrash(FileSystem& files, OldItem& item) {
    if (!files.renameItem(item.trashed->path, item.path)) {
        return false; // it stays in the Trash, from where the user can put it back
    }
    if (!item.trashed->record.empty()) {
        files.removeTree(item.trashed->record);
    }
    item.trashed.reset();
    return true;
}

// Moves every old item to the Trash, each from its own place so that the Trash knows where it
// came from, then the copy into place. Nothing when no Trash takes them: then every item is back.
std::optional<PlaceResult> replaceThroughTrash(FileSystem& files, std::vector<OldItem>& items,
                                               const std::string& staged,
                                               const std::string& destination) {
    std::size_t trashed = 0;
    while (trashed < items.size() &&
           (items[trashed].trashed = files.moveToTrash(items[trashed].path))) {
        ++trashed;
    }
    const bool allTrashed = trashed == items.size();
    if (allTrashed && files.renameItem(staged, destination)) {
        return PlaceResult::Placed;
    }
    bool allBack = true;
    for (std::size_t i = trashed; i-- > 0;) {
        allBack = putBackFromTrash(files, items[i]) && allBack;
    }
    if (allTrashed || !allBack) {
        return PlaceResult::ReplaceFailed;
    }
    return std::nullopt;
}

// Without a Trash: the old items are moved aside, the world first, and put back, the world last,
// if the copy cannot take its place; so that a crash part-way always leaves the world aside with
// whatever else is there, for the next copy to put back.
PlaceResult replaceByRenaming(FileSystem& files, const std::string& serverFolder,
                              const std::vector<OldItem>& items, const std::string& staged,
                              const std::string& destination) {
    const auto aside = files.makeTemporaryFolder(serverFolder, std::string(asideFolderPrefix));
    if (!aside) {
        return PlaceResult::ReplaceFailed;
    }
    std::size_t moved = 0;
    while (moved < items.size() &&
           files.renameItem(items[moved].path, joinPath(*aside, items[moved].name))) {
        ++moved;
    }
    if (moved == items.size() && files.renameItem(staged, destination)) {
        files.removeTree(*aside);
        return PlaceResult::Placed;
    }
    bool allBack = true;
    for (std::size_t i = moved; i-- > 0;) {
        allBack = files.renameItem(joinPath(*aside, items[i].name), items[i].path) && allBack;
    }
    // When even this fails the old items wait in the aside folder, and the next copy into this
    // server folder puts them back.
    if (allBack) {
        files.removeTree(*aside);
    }
    return PlaceResult::ReplaceFailed;
}

PlaceResult replaceWithoutTrash(FileSystem& files, const std::string& serverFolder,
                                const std::vector<OldItem>& items, const std::string& staged,
                                const std::string& destination) {
    if (items.size() == 1 && items.front().path == destination) {
        // Exchanged, the old item sits in the staging folder and goes with it.
        switch (files.exchangeItems(staged, destination)) {
        case ExchangeResult::Exchanged:
            return PlaceResult::Placed;
        case ExchangeResult::Failed:
            return PlaceResult::ReplaceFailed;
        case ExchangeResult::Unsupported:
            break;
        }
    }
    return replaceByRenaming(files, serverFolder, items, staged, destination);
}

// Puts the staged copy at `name`, every old item of the world giving way with `replace`.
PlaceResult putInPlace(FileSystem& files, const std::string& serverFolder, const std::string& name,
                       const std::string& staged, bool replace) {
    const std::string destination = joinPath(serverFolder, name);
    const auto names = replace ? existingWorldItems(files, serverFolder, name)
                               : std::optional<std::vector<std::string>>(std::in_place);
    if (!names) {
        return PlaceResult::ReplaceFailed;
    }
    std::vector<OldItem> items;
    for (const std::string& itemName : *names) {
        OldItem item{itemName, joinPath(serverFolder, itemName), {}, false, std::nullopt};
        const auto info = files.itemInfo(item.path);
        if (!info) {
            return PlaceResult::ReplaceFailed;
        }
        item.info = *info;
        items.push_back(std::move(item));
    }
    if (items.empty()) {
        return files.renameItem(staged, destination) ? PlaceResult::Placed
                                                     : PlaceResult::CopyFailed;
    }
    for (OldItem& item : items) {
        openForMove(files, item);
    }
    const auto trashed = replaceThroughTrash(files, items, staged, destination);
    const PlaceResult result =
        trashed ? *trashed : replaceWithoutTrash(files, serverFolder, items, staged, destination);
    // The items that were opened get their own bits back, wherever they are now.
    for (const OldItem& item : items) {
        if (item.opened && (item.trashed || result != PlaceResult::Placed)) {
            files.setAttributes(item.trashed ? item.trashed->path : item.path, item.info);
        }
    }
    return result;
}

// Whether the staged tree still holds everything the plan made: another program may have taken
// part of it while it was copied.
bool stagedTreeIsWhole(FileSystem& files, const TreePlan& plan, const std::string& staged) {
    const auto found = planTreeCopy(files, staged);
    return found && found->items.size() == plan.items.size() && found->files == plan.files &&
           found->bytes == plan.bytes;
}

// Puts the items of an aside folder back under their own names while the world's name is free:
// the copy that set them aside never finished. Otherwise the copy took their place and they go.
void recoverSetAside(FileSystem& files, const std::string& serverFolder,
                     const std::string& folder) {
    const auto inside = files.folderEntries(folder);
    if (!inside || inside->size() > worldItemNames({}).size()) {
        return; // not as a copy leaves it: not ours to judge
    }
    if (!inside->empty()) {
        const std::string world = *std::min_element(
            inside->begin(), inside->end(),
            [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
        const std::vector<std::string> items = worldItemNames(world);
        for (const std::string& name : *inside) {
            if (std::find(items.begin(), items.end(), name) == items.end()) {
                return;
            }
        }
        const auto there = files.itemInfo(joinPath(serverFolder, world));
        if (!there) {
            return;
        }
        if (there->kind == ItemKind::Missing) {
            // The world last, so that a crash meanwhile still finds it here.
            bool allBack = true;
            for (auto it = items.rbegin(); it != items.rend(); ++it) {
                if (std::find(inside->begin(), inside->end(), *it) != inside->end()) {
                    allBack =
                        files.renameItem(joinPath(folder, *it), joinPath(serverFolder, *it)) &&
                        allBack;
                }
            }
            if (!allBack) {
                return;
            }
        }
    }
    files.removeTree(folder);
}

} // namespace

PlaceResult placeCopy(FileSystem& files, const std::string& source, const std::string& serverFolder,
                      const std::string& name, bool replace, const WorkProgressReport& progress) {
    const auto plan = planTreeCopy(files, source);
    if (!plan) {
        return PlaceResult::CopyFailed;
    }
    const auto staging = files.makeTemporaryFolder(serverFolder, std::string(stagingFolderPrefix));
    if (!staging) {
        return PlaceResult::CopyFailed;
    }
    const std::string staged = joinPath(*staging, name);
    const std::string destination = joinPath(serverFolder, name);

    PlaceResult result = PlaceResult::Placed;
    WorkProgress last;
    const WorkProgressReport tracked = [&](const WorkProgress& done) {
        last = done;
        return !progress || progress(done);
    };
    switch (copyTree(files, *plan, source, staged, tracked)) {
    case TreeCopyResult::Copied:
        break;
    case TreeCopyResult::Failed:
        result = PlaceResult::CopyFailed;
        break;
    case TreeCopyResult::Stopped:
        result = PlaceResult::Stopped;
        break;
    }
    // What replaces the old item must be on the disk before the old item is removed.
    if (result == PlaceResult::Placed && !files.flushToDisk(*staging)) {
        result = PlaceResult::CopyFailed;
    }
    // The flush can take a while: a stop asked for meanwhile still leaves everything as it was.
    if (result == PlaceResult::Placed && progress && !progress(last)) {
        result = PlaceResult::Stopped;
    }
    if (result == PlaceResult::Placed && !stagedTreeIsWhole(files, *plan, staged)) {
        result = PlaceResult::CopyFailed;
    }
    // A server may have opened the world while it was copied: it would save over the new one.
    if (result == PlaceResult::Placed && worldInUse(files, serverFolder, name)) {
        result = PlaceResult::InUse;
    }
    if (result == PlaceResult::Placed) {
        result = putInPlace(files, serverFolder, name, staged, replace);
    }
    files.removeTree(*staging);
    const ItemInfo& top = plan->items.front().info;
    if (result == PlaceResult::Placed && (top.permissions & ownerWritePermission) == 0) {
        // A read-only world gets its own bits only now that it is in place. Should that fail,
        // the world is still whole; only its folder stays writable by its owner.
        files.setAttributes(destination, top);
    }
    return result;
}

void recoverLeftovers(FileSystem& files, const std::string& serverFolder) {
    const auto names = files.folderEntries(serverFolder);
    if (!names) {
        return;
    }
    for (const std::string& name : *names) {
        const bool aside = hasWorkingFolderSuffix(name, asideFolderPrefix);
        if (!aside && !hasWorkingFolderSuffix(name, stagingFolderPrefix)) {
            continue;
        }
        const std::string folder = joinPath(serverFolder, name);
        const auto info = files.itemInfo(folder);
        if (!info || info->kind != ItemKind::Folder) {
            continue; // we only ever make folders of these names
        }
        if (aside) {
            recoverSetAside(files, serverFolder, folder);
        } else {
            files.removeTree(folder);
        }
    }
}

std::vector<std::string> worldItemNames(const std::string& name) {
    return {name, name + "_nether", name + "_the_end"};
}

std::optional<std::vector<std::string>>
existingWorldItems(FileSystem& files, const std::string& serverFolder, const std::string& name) {
    std::vector<std::string> existing;
    for (std::string& item : worldItemNames(name)) {
        const auto info = files.itemInfo(joinPath(serverFolder, item));
        if (!info) {
            return std::nullopt;
        }
        if (info->kind != ItemKind::Missing) {
            existing.push_back(std::move(item));
        }
    }
    return existing;
}

bool worldInUse(FileSystem& files, const std::string& serverFolder, const std::string& name) {
    for (const std::string& item : worldItemNames(name)) {
        if (files.isLockHeld(
                joinPath(joinPath(serverFolder, item), std::string(sessionLockName)))) {
            return true;
        }
    }
    return false;
}

} // namespace Plovermantle
