#include "worlds/WorldCopy.h"

#include "platform/Paths.h"
#include "platform/Platform.h"
#include "worlds/Messages.h"
#include "worlds/StagedCopy.h"

#include <QByteArrayView>
#include <algorithm>
#include <filesystem>

namespace Plovermantle {

namespace {

// Names that would not stay one folder inside the server folder are refused, whatever the list
// holds.
bool isUsableName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

// What the app itself keeps in the server folder: a world of such a name would replace one of
// them, or be cleaned up as a leftover of ours. Letter case aside, for file systems that ignore it.
bool isOwnName(std::string name) {
    std::ranges::transform(name, name.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return name == "server.properties" || name == "server.properties.backup" ||
           name.starts_with(copyLockName) || name.starts_with(stagingFolderPrefix) ||
           name.starts_with(asideFolderPrefix);
}

bool sameItem(const ItemInfo& a, const ItemInfo& b) {
    return a.kind != ItemKind::Missing && b.kind != ItemKind::Missing && a.device == b.device &&
           a.inode == b.inode;
}

// Whether the item `target` is the folder at `path` or one of the folders above it; nothing when
// that cannot be told. Asked of the items themselves, so that links and other spellings of a path
// cannot hide it.
std::optional<bool> isAtOrAbove(FileSystem& files, const ItemInfo& target,
                                const std::string& path) {
    const auto resolved = files.canonicalPath(path);
    if (!resolved) {
        const auto info = files.itemInfo(path);
        if (info && info->kind == ItemKind::Missing) {
            files.takeFailure(); // not a failure after all
            return false;        // nothing there to be inside anything
        }
        return std::nullopt;
    }
    for (std::filesystem::path folder(*resolved);; folder = folder.parent_path()) {
        const auto info = files.itemInfo(folder.string());
        if (!info) {
            return std::nullopt;
        }
        if (sameItem(*info, target)) {
            return true;
        }
        if (folder == folder.parent_path()) {
            return false;
        }
    }
}

enum class Overlap { None, Unknown, Same, DestinationInsideSource, SourceInsideDestination };

// Copying a world onto or into itself would delete it or never end; when that cannot be ruled
// out, nothing is copied.
Overlap overlapOf(FileSystem& files, const std::string& source, const std::string& savesFolder,
                  const std::string& destination, const std::string& serverFolder) {
    const auto sourceInfo = files.itemInfo(source);
    const auto destinationInfo = files.itemInfo(destination);
    if (!sourceInfo || !destinationInfo) {
        return Overlap::Unknown;
    }
    if (sourceInfo->kind != ItemKind::Folder) {
        return Overlap::None; // no world there to harm; the copy reports it
    }
    if (sameItem(*destinationInfo, *sourceInfo)) {
        return Overlap::Same;
    }
    const auto destinationInside = isAtOrAbove(files, *sourceInfo, serverFolder);
    if (!destinationInside) {
        return Overlap::Unknown;
    }
    if (*destinationInside) {
        return Overlap::DestinationInsideSource;
    }
    if (destinationInfo->kind == ItemKind::Folder) {
        const auto sourceInside = isAtOrAbove(files, *destinationInfo, savesFolder);
        if (!sourceInside) {
            return Overlap::Unknown;
        }
        if (*sourceInside) {
            return Overlap::SourceInsideDestination;
        }
    }
    return Overlap::None;
}

} // namespace

void copyWorld(Platform& platform, const WorldCopyInputs& inputs,
               const std::function<void(const std::string& serverFolder)>& pointServerAtWorld) {
    Dialogs& dialogs = platform.dialogs;
    FileSystem& files = platform.files;
    // A failure is told with the file operation that caused it.
    const auto tellFailure = [&](const Alert& alert) {
        dialogs.runAlert(Messages::withDetails(alert, files.takeFailure()));
    };

    if (inputs.serverPathText.empty() || !inputs.selectedWorld) {
        dialogs.runAlert(Messages::comeOn);
        return;
    }
    // The field can show a folder while none is in use; never guess at one.
    if (!inputs.serverFolder || inputs.serverFolder->empty() || !inputs.savesFolder ||
        inputs.savesFolder->empty()) {
        dialogs.runAlert(Messages::comeOn);
        return;
    }
    const std::string& name = *inputs.selectedWorld;
    const std::string& serverFolder = *inputs.serverFolder;
    if (!isUsableName(name) || isOwnName(name)) {
        dialogs.runAlert(Messages::badWorldName);
        return;
    }
    // The name goes into server.properties, which the server reads as UTF-8 text.
    if (!QByteArrayView(name.data(), static_cast<qsizetype>(name.size())).isValidUtf8()) {
        dialogs.runAlert(Messages::worldNameNotUtf8);
        return;
    }
    const std::string source = joinPath(*inputs.savesFolder, name);
    const std::string destination = joinPath(serverFolder, name);

    files.takeFailure();
    switch (overlapOf(files, source, *inputs.savesFolder, destination, serverFolder)) {
    case Overlap::None:
        break;
    case Overlap::Unknown:
        tellFailure(Messages::unableToCopy);
        return;
    case Overlap::Same:
        dialogs.runAlert(Messages::serverIsSavesFolder);
        return;
    case Overlap::DestinationInsideSource:
        dialogs.runAlert(Messages::serverInsideWorld);
        return;
    case Overlap::SourceInsideDestination:
        dialogs.runAlert(Messages::worldInsideReplaced);
        return;
    }

    // A world the game is writing would be copied torn.
    if (files.isLockHeld(joinPath(source, std::string(sessionLockName)))) {
        dialogs.runAlert(Messages::worldOpenInGame);
        return;
    }
    // One copy at a time: another one's working folders would look like a crash's leftovers.
    LockAttempt lock = files.lockExclusively(joinPath(serverFolder, std::string(copyLockName)));
    switch (lock.outcome) {
    case LockOutcome::Taken:
        break;
    case LockOutcome::HeldElsewhere:
        dialogs.runAlert(Messages::anotherCopyUnderWay);
        return;
    case LockOutcome::Failed:
        tellFailure(Messages::unableToCopy);
        return;
    }
    recoverLeftovers(files, serverFolder);
    files.takeFailure(); // what could not be cleaned up is not what stops this copy
    const auto existing = existingWorldItems(files, serverFolder, name);
    if (!existing) {
        tellFailure(Messages::unableToCopy);
        return;
    }
    // A running server saves its world when it stops, over whatever took its place.
    if (worldInUse(files, serverFolder, name)) {
        dialogs.runAlert(Messages::serverRunsWorld);
        return;
    }
    const bool replace = !existing->empty();
    if (replace && dialogs.runAlert(Messages::worldExists) != alertFirstButtonReturn) {
        return;
    }
    // The copy is the one long step: it runs with its progress shown and may be cancelled.
    PlaceResult placed = PlaceResult::CopyFailed;
    dialogs.runWithProgress(Messages::copyingLabel(name), [&](const WorkProgressReport& report) {
        placed = placeCopy(files, source, serverFolder, name, replace, report);
    });
    switch (placed) {
    case PlaceResult::Placed:
        break;
    case PlaceResult::CopyFailed:
        tellFailure(Messages::unableToCopy);
        return;
    case PlaceResult::ReplaceFailed:
        tellFailure(Messages::unableToReplace);
        return;
    case PlaceResult::InUse:
        dialogs.runAlert(Messages::serverRunsWorld);
        return;
    case PlaceResult::Stopped:
        return;
    }
    pointServerAtWorld(serverFolder);
    lock.lock.reset(); // the copy is done; the user may take their time over the last alert
    dialogs.runAlert(Messages::worldCopied);
}

} // namespace Plovermantle
