#include "worlds/WorldCopy.h"

#include "platform/LocalServerFolder.h"
#include "platform/LocalWorldSource.h"
#include "platform/Paths.h"
#include "platform/ssh/RemoteServerFolder.h"
#include "platform/ssh/SshDestination.h"
#include "worlds/Archive.h"
#include "worlds/Messages.h"
#include "worlds/ServerProperties.h"
#include "worlds/StagedCopy.h"

#include <QByteArrayView>
#include <QDir>
#include <QString>
#include <QSysInfo>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <pwd.h>
#include <unistd.h>

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
           name.starts_with(asideFolderPrefix) || name.starts_with(replacedFolderName) ||
           name.starts_with(propsTemporaryPrefix);
}

// Why the world's name cannot be used in the server folder, if it cannot.
std::optional<Alert> nameProblem(const std::string& name) {
    if (!isUsableName(name) || isOwnName(name)) {
        return Messages::badWorldName;
    }
    // The name goes into server.properties, which the server reads as text.
    if (!QByteArrayView(name.data(), static_cast<qsizetype>(name.size())).isValidUtf8()) {
        return Messages::worldNameNotUtf8;
    }
    return std::nullopt;
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
Overlap overlapOf(FileSystem& files, const std::string& source, const std::string& destination,
                  const std::string& serverFolder) {
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
        const auto sourceInside = isAtOrAbove(files, *destinationInfo, source);
        if (!sourceInside) {
            return Overlap::Unknown;
        }
        if (*sourceInside) {
            return Overlap::SourceInsideDestination;
        }
    }
    return Overlap::None;
}

// The account's name on this computer; its number elsewhere.
std::string accountName(std::uint32_t uid, bool remote) {
    if (!remote) {
        struct passwd entry {};
        struct passwd* found = nullptr;
        char buffer[4096];
        if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found) {
            return found->pw_name;
        }
    }
    return "uid " + std::to_string(uid);
}

std::string describeHolder(const LockHolder& holder) {
    const std::string lock(copyLockName);
    if (!holder.readable) {
        return "The lock file " + lock + " could not be read, so who holds it is not known.";
    }
    return "The lock file " + lock + " is held by process " + std::to_string(holder.pid) + " on " +
           holder.host + " since " + holder.since + ".";
}

} // namespace

CopyOutcome copyWorld(Platform& platform, ServerFolder& folder, WorldSource& source,
                      const std::string& name, ExistingWorld existing) {
    Dialogs& dialogs = platform.dialogs;
    constexpr int first = alertFirstButtonReturn;
    // A failure is told with the operation that caused it.
    const auto fail = [&](const Alert& alert) {
        dialogs.runAlert(Messages::withDetails(alert, folder.takeFailure()));
        return CopyOutcome::Failed;
    };

    if (const auto problem = nameProblem(name)) {
        return fail(*problem);
    }
    folder.takeFailure();
    const auto top = folder.itemInfo("");
    if (!top || top->kind != ItemKind::Folder) {
        return fail(Messages::serverFolderUnusable);
    }
    if (const auto local = source.localPath(); local && !folder.isRemote()) {
        FileSystem& files = platform.files;
        files.takeFailure();
        const std::string server = folder.displayName();
        switch (overlapOf(files, *local, joinPath(server, name), server)) {
        case Overlap::None:
            break;
        case Overlap::Unknown:
            dialogs.runAlert(Messages::withDetails(Messages::unableToCopy, files.takeFailure()));
            return CopyOutcome::Failed;
        case Overlap::Same:
            return fail(Messages::serverIsSavesFolder);
        case Overlap::DestinationInsideSource:
            return fail(Messages::serverInsideWorld);
        case Overlap::SourceInsideDestination:
            return fail(Messages::worldInsideReplaced);
        }
    }
    // A world the game is writing would be copied torn.
    if (source.isOpenInGame().value_or(false)) {
        return fail(Messages::worldOpenInGame);
    }

    // A folder without server.properties may not be a server's at all.
    const auto props = folder.itemInfo("server.properties");
    if (!props) {
        return fail(Messages::unableToCopy);
    }
    if (props->kind == ItemKind::Missing &&
        dialogs.runAlert(Messages::noServerProperties) != first) {
        return CopyOutcome::Cancelled;
    }
    if (props->kind == ItemKind::RegularFile && props->size > serverPropsMaxBytes) {
        return fail(Messages::propsTooLarge);
    }
    // The server's account must be able to write the world it is given.
    const OwnershipDecision ownership =
        planOwnership(folder.account(), *top, props->kind == ItemKind::Missing ? *top : *props,
                      folder.defaultAclGrantsWrite());
    if (ownership.unwritable && dialogs.runAlert(Messages::serverCannotWrite(accountName(
                                    *ownership.unwritable, folder.isRemote()))) != first) {
        return CopyOutcome::Cancelled;
    }

    // One copy at a time: another one's working folders would look like a crash's leftovers.
    const std::string lockName(copyLockName);
    CopyLockAttempt lock = folder.lockExclusively(lockName);
    if (lock.outcome == LockOutcome::HeldElsewhere) {
        // A lock of this computer is a live copy's; one of another computer, or one that cannot
        // be read, may be a crash's, which only the user can judge.
        const bool removable =
            !lock.holder.readable || lock.holder.host != QSysInfo::machineHostName().toStdString();
        const int answer =
            dialogs.runAlert(Messages::anotherCopy(describeHolder(lock.holder), removable));
        if (!removable || answer != first + 1) {
            return CopyOutcome::Failed;
        }
        if (dialogs.runAlert(Messages::confirmLockRemoval) != first) {
            return CopyOutcome::Cancelled;
        }
        if (!folder.breakLock(lockName)) {
            return fail(Messages::unableToCopy);
        }
        lock = folder.lockExclusively(lockName);
        if (lock.outcome == LockOutcome::HeldElsewhere) {
            dialogs.runAlert(Messages::anotherCopy(describeHolder(lock.holder), false));
            return CopyOutcome::Failed;
        }
    }
    if (lock.outcome != LockOutcome::Taken) {
        return fail(Messages::unableToCopy);
    }
    // A crash's leftovers can be large: they are cleaned up with the progress shown.
    const std::string label = Messages::copyingLabel(name);
    dialogs.runWithProgress(label, [&](const WorkProgressReport&) { recoverLeftovers(folder); });
    folder.takeFailure(); // what could not be cleaned up is not what stops this copy
    const auto items = existingWorldItems(folder, name);
    if (!items) {
        return fail(Messages::unableToCopy);
    }
    // A running server saves its world when it stops, over whatever took its place.
    const std::optional<bool> inUse = worldInUse(folder, name);
    if (inUse == std::optional(true)) {
        return fail(Messages::serverRunsWorld);
    }
    const bool replace = !items->empty();
    // Where the lock cannot be seen, only the user can tell.
    if (replace && !inUse && dialogs.runAlert(Messages::serverRunningUnknown) != first) {
        return CopyOutcome::Cancelled;
    }
    if (replace) {
        if (existing == ExistingWorld::Keep ||
            (existing == ExistingWorld::Ask &&
             dialogs.runAlert(Messages::replacePrompt(*items, folder.displayName(),
                                                      folder.isRemote())) != first)) {
            return CopyOutcome::WorldExists;
        }
    }
    // The copy is the one long step: it runs with its progress shown and may be cancelled.
    Placement placed;
    dialogs.runWithProgress(label, [&](const WorkProgressReport& report) {
        placed = placeCopy(folder, source, name, replace, ownership.plan, report);
    });
    const std::string kept =
        placed.keptIn.empty()
            ? std::string()
            : (folder.isRemote() ? "There is no Trash on the server: " : "No Trash could take ") +
                  Messages::quotedList(*items) +
                  (folder.isRemote() ? " are kept in " : ", so they are kept in ") +
                  joinPath(folder.displayName(), placed.keptIn) + ".";
    switch (placed.result) {
    case PlaceResult::Placed:
        break;
    case PlaceResult::CopyFailed: {
        // An archive refused while it was unpacked says why in its own words.
        const auto failure = folder.takeFailure();
        const auto refusal = failure ? archiveRefusal(*failure) : std::nullopt;
        dialogs.runAlert(refusal ? *refusal
                                 : Messages::withDetails(Messages::unableToCopy, failure));
        return CopyOutcome::Failed;
    }
    case PlaceResult::ReplaceFailed: {
        Alert alert = Messages::withDetails(Messages::unableToReplace, folder.takeFailure());
        alert.details += (alert.details.empty() || kept.empty() ? "" : "\n") + kept;
        dialogs.runAlert(alert);
        return CopyOutcome::Failed;
    }
    case PlaceResult::InUse:
        return fail(Messages::serverRunsWorld);
    case PlaceResult::SourceChanged:
        // Only a folder of this computer is one the game could have opened.
        return fail(source.localPath() ? Messages::worldChangedWhileCopied
                                       : Messages::archiveChangedWhileCopied);
    case PlaceResult::Stopped:
        return CopyOutcome::Cancelled;
    }
    const bool pointed = rewriteServerProps(dialogs, folder, name);
    lock.lock.reset(); // the copy is done; the user may take their time over the last alert
    Alert copied = Messages::worldCopied;
    copied.details = kept;
    dialogs.runAlert(copied);
    return pointed ? CopyOutcome::Deployed : CopyOutcome::DeployedPropertiesFailed;
}

std::unique_ptr<ServerFolder> openServerFolder(Platform& platform, const std::string& text,
                                               std::optional<FileFailure>& failure) {
    const ParsedDestination destination = parseDestination(text);
    FileFailure why;
    switch (destination.kind) {
    case DestinationKind::Local: {
        auto folder = LocalServerFolder::open(text, &why);
        if (!folder) {
            failure = why;
        }
        return folder;
    }
    case DestinationKind::Invalid:
        failure =
            FileFailure{"understand", text, std::make_error_code(std::errc::invalid_argument)};
        return nullptr;
    case DestinationKind::Remote:
        break;
    }
    if (platform.remotePrompts == nullptr) {
        failure = FileFailure{"connect to", text, std::make_error_code(std::errc::not_supported)};
        return nullptr;
    }
    // Connecting may take up to its timeout: it runs with progress shown, and Cancel stops it.
    std::atomic<bool> cancel = false;
    std::unique_ptr<RemoteServerFolder> folder;
    const ConnectSettings settings{QDir::homePath().toStdString(), 15, &cancel};
    platform.dialogs.runWithProgress(
        Messages::connectingLabel(destination.remote.host), [&](const WorkProgressReport& report) {
            auto connecting = std::async(std::launch::async, [&] {
                return RemoteServerFolder::open(destination.remote, *platform.remotePrompts,
                                                settings, why);
            });
            while (connecting.wait_for(std::chrono::milliseconds(100)) !=
                   std::future_status::ready) {
                if (!report({})) {
                    cancel = true;
                }
            }
            folder = connecting.get();
        });
    if (!folder && !cancel) {
        failure = why;
    }
    return folder;
}

CopyOutcome deployWorld(Platform& platform, const std::string& serverFolderText,
                        WorldSource& source, const std::string& worldName, ExistingWorld existing) {
    std::optional<FileFailure> why;
    const auto folder = openServerFolder(platform, serverFolderText, why);
    if (!folder) {
        if (!why) {
            return CopyOutcome::Cancelled;
        }
        platform.dialogs.runAlert(
            Messages::withDetails(parseDestination(serverFolderText).kind == DestinationKind::Remote
                                      ? Messages::unableToConnect
                                      : Messages::serverFolderUnusable,
                                  why));
        return CopyOutcome::Failed;
    }
    return copyWorld(platform, *folder, source, worldName, existing);
}

CopyOutcome deployWorld(Platform& platform, const std::string& serverFolderText,
                        const std::string& savesFolder, const std::string& worldName,
                        ExistingWorld existing) {
    // Checked before the name is joined to the saves folder: "..", "" or "server.properties"
    // would open another folder, or none, and the user would be told the wrong reason.
    if (const auto problem = nameProblem(worldName)) {
        platform.dialogs.runAlert(*problem);
        return CopyOutcome::Failed;
    }
    FileFailure why;
    const auto source = LocalWorldSource::open(joinPath(savesFolder, worldName), &why);
    if (!source) {
        platform.dialogs.runAlert(Messages::withDetails(Messages::unableToCopy, why));
        return CopyOutcome::Failed;
    }
    return deployWorld(platform, serverFolderText, *source, worldName, existing);
}

} // namespace Plovermantle
