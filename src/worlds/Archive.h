#pragma once

#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/ServerFolder.h"
#include "platform/TreeTransfer.h"
#include "worlds/LevelDat.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace Plovermantle {

// An archive is untrusted, its headers included: what one pass through it may unpack.
struct ArchiveLimits {
    // File bytes unpacked in all, counted as they are read: the destination's free space.
    std::uint64_t maxBytes = UINT64_MAX;
    // Entries of every kind, skipped ones included: a world has tens of thousands at most.
    std::uint64_t maxEntries = 200'000;
    // Unpacked bytes per byte of the archive, once more than `ratioAllowance` are unpacked: worlds
    // compress a few times over, bombs a thousand times and more.
    std::uint64_t maxRatio = 200;
    std::uint64_t ratioAllowance = 64u << 20;
};

// Why an archive was refused. Each is told in an alert of its own.
enum class ArchiveProblem {
    Unreadable = 1, // not an archive of a kind we read, or damaged, or cut short
    PathOutside,    // an absolute path, or one with ".."
    NameNotUtf8,
    TooLarge,       // more than ArchiveLimits::maxBytes
    TooManyEntries, // more than ArchiveLimits::maxEntries
    RatioTooHigh,   // more than ArchiveLimits::maxRatio
    Duplicate,      // a path twice, or a file where a folder is
    SizeMismatch,   // an entry's data is not the size its header announces
    NoSuchWorld,    // the world chosen is not in it (any more)
};
const std::error_category& archiveProblemCategory();
inline std::error_code make_error_code(ArchiveProblem problem) {
    return {static_cast<int>(problem), archiveProblemCategory()};
}

// An archive to read: the file at `path`, or else `bytes` in memory (named `name` in failures).
struct ArchiveInput {
    std::string path;
    std::string_view bytes;
    std::string name;
};

// A world found in an archive: a folder holding a level.dat, with the Nether and the End a
// server keeps beside it ("X_nether", "X_the_end"), which are deployed with it as one set.
struct ArchiveWorld {
    std::string name{};                    // the folder it gets on the server
    std::string path{};                    // its folder in the archive; "" for the archive's top
    std::vector<std::string> companions{}; // the set's other folders in the archive
    std::optional<LevelSummary> level{};   // nothing when its level.dat cannot be read
    TreeTotals totals{};          // every folder (its own included) and file sent, as headers tell
    std::string archiveVersion{}; // the archive file it was found in, as it was then
};

// The worlds in the archive, by their paths in it; nothing when the archive is refused, with why
// in `failure`. A world's folders hold nothing that is a world of its own. Only level.dat files
// are unpacked, and the archive's files and folders are checked as the copy checks them: an
// archive that could not be copied is not offered.
std::optional<std::vector<ArchiveWorld>>
findArchiveWorlds(const ArchiveInput& input, const ArchiveLimits& limits, FileFailure& failure);

// Whether `path`'s name ends in an extension of an archive we read (".zip", ".tar.gz", ".7z"...).
bool isArchiveName(std::string_view path);
// The name of a file without its folder and its archive extension: "maps/Sky.tar.gz" -> "Sky".
std::string archiveStem(std::string_view path);

// The alert that tells why the archive was refused; nothing when `failure` is of another kind.
std::optional<Alert> archiveRefusal(const FileFailure& failure);

// One world of an archive, sent straight from it to a server folder, nothing unpacked elsewhere.
// Its items are named as they go into the staging folder: "X", "X/level.dat"... then, for a set,
// "X_nether/..." and "X_the_end/...". Only files and folders are sent; links, devices and pipes
// in the archive are left out. Every send reads the archive afresh, with the limits given.
class ArchiveWorldSource : public WorldSource {
public:
    ArchiveWorldSource(ArchiveInput input, ArchiveWorld world, ArchiveLimits limits);

    std::string displayName() const override;
    std::vector<std::string> items() const override;
    std::optional<TreeTotals> totals() override;
    // The archive's byte cap comes down to what the destination can take.
    void limitBytes(std::uint64_t bytes) override;
    SendResult sendTo(TreeSink& sink, const WorkProgressReport& progress) override;
    std::optional<FileFailure> takeFailure() override;
    // Nothing in an archive is open in the game.
    std::optional<bool> isOpenInGame() override { return false; }

    const ArchiveWorld& world() const { return world_; }

private:
    ArchiveInput input_;
    ArchiveWorld world_;
    ArchiveLimits limits_;
    std::optional<FileFailure> failure_;
};

} // namespace Plovermantle

template <> struct std::is_error_code_enum<Plovermantle::ArchiveProblem> : std::true_type {};
