#pragma once

#include "platform/ServerFolder.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Plovermantle {

// Hidden folders a copy works in, inside the server folder, followed by six letters or digits.
inline constexpr std::string_view stagingFolderPrefix = ".plovermantle-staging-";
// Where an older version set an old world aside while replacing it.
inline constexpr std::string_view asideFolderPrefix = ".plovermantle-aside-";
// Where old worlds go that no Trash takes, each replace in a folder named by its UTC time.
inline constexpr std::string_view replacedFolderName = ".plovermantle-replaced";
// The temporary file server.properties is written through, followed by six letters or digits.
inline constexpr std::string_view propsTemporaryPrefix = ".server.properties.";
// The file that lets one copy at a time work in a server folder.
inline constexpr std::string_view copyLockName = ".plovermantle.lock";
// The file inside a world that the game and its server lock while they have the world open.
inline constexpr std::string_view sessionLockName = "session.lock";

// The items a world of `name` has in a server folder: the world itself, then the Nether and the
// End that servers of the Bukkit family keep beside it.
std::vector<std::string> worldItemNames(const std::string& name);
// Those of them that exist in `folder`, in that order; nothing when one cannot be examined.
std::optional<std::vector<std::string>> existingWorldItems(ServerFolder& folder,
                                                           const std::string& name);
// Whether a server has the world of `name`, or one of its items, open; nothing when the folder
// cannot tell (a host reached by SFTP alone) and none is seen open.
std::optional<bool> worldInUse(ServerFolder& folder, const std::string& name);

// What the copied world is made as, so that the server's account can write it: decided from the
// account the app acts as, the server folder and the server's own file (server.properties, or the
// folder when there is none), whose owner is the server's account. `unwritable` names that
// account when nothing lets it write the copy.
struct OwnershipDecision {
    OwnershipPlan plan;
    std::optional<std::uint32_t> unwritable;
};
OwnershipDecision planOwnership(const std::optional<Account>& account, const ItemInfo& folder,
                                const ItemInfo& serversFile, bool aclGrantsWrite);

enum class PlaceResult {
    Placed,        // the whole copy is in place
    CopyFailed,    // nothing changed at the destination
    ReplaceFailed, // the copy was made but the items in its way could not give way: they stay
    Stopped,       // the progress callback asked to stop; nothing changed at the destination
    InUse,         // a server opened the world while it was copied; nothing changed
    SourceChanged, // the game opened or wrote the world while it was copied; nothing changed
};

struct Placement {
    PlaceResult result = PlaceResult::CopyFailed;
    // Where the old items went when no Trash took them: a folder inside the server folder.
    std::string keptIn;
};

// Copies `source` into `folder` under `name`. The copy is made in a hidden staging folder and only
// a whole one, on the disk and counted again, takes the destination's place, so a failure never
// leaves part of a world there. With `replace`, the world's items already there (worldItemNames)
// give way: to the user's Trash, or where no Trash takes one of them, all of them into a folder of
// their own in replacedFolderName; a failure puts every one back, and no step deletes one.
// Without it, an item there makes the copy fail. `progress` is asked once more, with the last
// progress again, after the copy is on the disk and before it takes its place. Call it only while
// holding the folder's copy lock.
Placement placeCopy(ServerFolder& folder, WorldSource& source, const std::string& name,
                    bool replace, const OwnershipPlan& ownership,
                    const WorkProgressReport& progress = {},
                    std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

// Cleans up after a copy that was cut short (a crash, a power cut): our staging folders and
// temporary server.properties files go, and a world an older version set aside comes back to its
// own name when nothing took it, or else joins the kept old worlds. Only what the user made is
// touched, and never a kept world. Call it only while holding the folder's copy lock, or it could
// take another copy's work.
void recoverLeftovers(ServerFolder& folder,
                      std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

} // namespace Plovermantle
