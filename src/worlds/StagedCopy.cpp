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

// Swaps the staged copy in for the item at `destination` without the file system's help: the old
// item is moved aside first and put back if the copy cannot take its place.
PlaceResult replaceByRenaming(FileSystem& files, const std::string& serverFolder,
                              const std::string& name, const std::string& staged,
                              const std::string& destination) {
    const auto aside = files.makeTemporaryFolder(serverFolder, std::string(asideFolderPrefix));
    if (!aside) {
        return PlaceResult::ReplaceFailed;
    }
    const std::string setAside = joinPath(*aside, name);
    if (!files.renameItem(destination, setAside)) {
        files.removeTree(*aside);
        return PlaceResult::ReplaceFailed;
    }
    if (!files.renameItem(staged, destination)) {
        // When even this fails the old item waits in the aside folder, and the next copy into
        // this server folder puts it back.
        if (files.renameItem(setAside, destination)) {
            files.removeTree(*aside);
        }
        return PlaceResult::ReplaceFailed;
    }
    files.removeTree(*aside);
    return PlaceResult::Placed;
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
    if (result == PlaceResult::Placed) {
        if (!replace) {
            if (!files.renameItem(staged, destination)) {
                result = PlaceResult::CopyFailed;
            }
        } else {
            // Exchanged, the old item sits in the staging folder and goes with it.
            switch (files.exchangeItems(staged, destination)) {
            case ExchangeResult::Exchanged:
                break;
            case ExchangeResult::Failed:
                result = PlaceResult::ReplaceFailed;
                break;
            case ExchangeResult::Unsupported:
                result = replaceByRenaming(files, serverFolder, name, staged, destination);
                break;
            }
        }
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
        const std::string folder = joinPath(serverFolder, name);
        if (hasWorkingFolderSuffix(name, asideFolderPrefix)) {
            const auto inside = files.folderEntries(folder);
            if (!inside || inside->size() > 1) {
                continue; // not as a copy leaves it: not ours to judge
            }
            if (inside->size() == 1) {
                const std::string original = joinPath(serverFolder, inside->front());
                const auto there = files.itemInfo(original);
                if (!there) {
                    continue;
                }
                // Nothing took its name: the copy that set it aside never finished.
                if (there->kind == ItemKind::Missing &&
                    !files.renameItem(joinPath(folder, inside->front()), original)) {
                    continue;
                }
            }
            files.removeTree(folder);
        } else if (hasWorkingFolderSuffix(name, stagingFolderPrefix)) {
            files.removeTree(folder);
        }
    }
}

} // namespace Plovermantle
