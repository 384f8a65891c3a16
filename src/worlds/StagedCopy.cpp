#include "worlds/StagedCopy.h"

#include <algorithm>
#include <cctype>
#include <ctime>

namespace Plovermantle {

namespace {

constexpr std::uint32_t ownerWrite = 0200;
constexpr std::uint32_t setGroupId = 02000;

bool hasRandomSuffix(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix)) {
        return false;
    }
    const std::string_view suffix = name.substr(prefix.size());
    return suffix.size() == 6 && std::all_of(suffix.begin(), suffix.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) != 0;
           });
}

std::string inside(std::string_view folder, const std::string& name) {
    return std::string(folder) + '/' + name;
}

// "2026-12-07T10-15-00Z": sorts by time, and holds no colon, which some file systems refuse.
std::string utcStamp(std::chrono::system_clock::time_point now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H-%M-%SZ", &utc);
    return text;
}

// A name not yet taken inside replacedFolderName, which is made when missing; nothing when that
// folder is not ours.
std::optional<std::string> freeKeepName(ServerFolder& folder,
                                        std::chrono::system_clock::time_point now) {
    const std::string parent(replacedFolderName);
    const auto info = folder.itemInfo(parent);
    if (!info || (info->kind == ItemKind::Missing && !folder.makeFolder(parent, 0700))) {
        return std::nullopt;
    }
    if (info->kind != ItemKind::Missing && (info->kind != ItemKind::Folder || !info->ownedByUser)) {
        folder.noteFailure({"keep old worlds in", parent,
                            std::make_error_code(std::errc::operation_not_permitted)});
        return std::nullopt;
    }
    const std::string stamp = utcStamp(now);
    for (int attempt = 1; attempt <= 9; ++attempt) {
        const std::string name =
            inside(parent, attempt == 1 ? stamp : stamp + '-' + std::to_string(attempt));
        const auto taken = folder.itemInfo(name);
        if (!taken) {
            return std::nullopt;
        }
        if (taken->kind == ItemKind::Missing) {
            return name;
        }
    }
    folder.noteFailure(
        {"keep old worlds in", parent, std::make_error_code(std::errc::file_exists)});
    return std::nullopt;
}

// An item of the world that gives way to the copy.
struct OldItem {
    std::string name;
    ItemInfo info;
    bool opened = false;                // made writable by its owner to be moved
    std::optional<TrashedItem> trashed; // where it went in the Trash
};

// Moving a folder into another folder rewrites its ".." entry, which its owner may only do with
// write permission: a read-only world of ours is opened for the move.
void openForMove(ServerFolder& folder, OldItem& item) {
    if (item.info.kind == ItemKind::Folder && item.info.ownedByUser &&
        (item.info.permissions & ownerWrite) == 0) {
        item.opened = folder.setPermissions(item.name, item.info.permissions | ownerWrite);
    }
}

// The new items from the staging folder to their places, the world's own folder last so that its
// being there means the whole set is; should one not go, those moved go back and nothing changed.
bool moveIn(ServerFolder& folder, const std::string& staging,
            const std::vector<std::string>& placed) {
    std::size_t moved = 0;
    for (auto item = placed.rbegin(); item != placed.rend(); ++item, ++moved) {
        if (!folder.rename(inside(staging, *item), *item)) {
            break;
        }
    }
    if (moved == placed.size()) {
        return true;
    }
    for (std::size_t i = 0; i < moved; ++i) {
        const std::string& item = placed[placed.size() - 1 - i];
        folder.rename(item, inside(staging, item));
    }
    return false;
}

// Every old item to the Trash, each from its own place so that the Trash knows where it came
// from, then the copy into place. Nothing when no Trash takes one of them: then every one is back.
std::optional<PlaceResult> replaceThroughTrash(ServerFolder& folder, std::vector<OldItem>& items,
                                               const std::string& staging,
                                               const std::vector<std::string>& placed) {
    std::size_t trashed = 0;
    while (trashed < items.size() &&
           (items[trashed].trashed = folder.moveToTrash(items[trashed].name))) {
        ++trashed;
    }
    const bool allTrashed = trashed == items.size();
    if (allTrashed && moveIn(folder, staging, placed)) {
        return PlaceResult::Placed;
    }
    bool allBack = true;
    for (std::size_t i = trashed; i-- > 0;) {
        // One that cannot come back stays in the Trash, from where the user can put it back.
        if (folder.restoreFromTrash(*items[i].trashed, items[i].name)) {
            items[i].trashed.reset();
        } else {
            allBack = false;
        }
    }
    if (allTrashed || !allBack) {
        return PlaceResult::ReplaceFailed;
    }
    return std::nullopt;
}

// Without a Trash the old items are kept, by renaming, in a folder of their own.
PlaceResult replaceByKeeping(ServerFolder& folder, const std::vector<OldItem>& items,
                             const std::string& staging, const std::vector<std::string>& placed,
                             std::chrono::system_clock::time_point now, std::string& keptIn) {
    const auto keep = freeKeepName(folder, now);
    if (!keep || !folder.makeFolder(*keep, 0700)) {
        return PlaceResult::ReplaceFailed;
    }
    std::size_t moved = 0;
    while (moved < items.size() &&
           folder.rename(items[moved].name, inside(*keep, items[moved].name))) {
        ++moved;
    }
    if (moved == items.size() && moveIn(folder, staging, placed)) {
        keptIn = *keep;
        return PlaceResult::Placed;
    }
    bool allBack = true;
    for (std::size_t i = moved; i-- > 0;) {
        allBack = folder.rename(inside(*keep, items[i].name), items[i].name) && allBack;
    }
    if (allBack) {
        folder.removeTree(*keep); // empty again
    } else {
        keptIn = *keep; // whatever could not come back waits there
    }
    return PlaceResult::ReplaceFailed;
}

Placement putInPlace(ServerFolder& folder, const std::string& name, const std::string& staging,
                     const std::vector<std::string>& placed, bool replace,
                     std::chrono::system_clock::time_point now) {
    const auto names = replace ? existingWorldItems(folder, name)
                               : std::optional<std::vector<std::string>>(std::in_place);
    if (!names) {
        return {PlaceResult::ReplaceFailed, {}};
    }
    std::vector<OldItem> items;
    for (const std::string& itemName : *names) {
        const auto info = folder.itemInfo(itemName);
        if (!info) {
            return {PlaceResult::ReplaceFailed, {}};
        }
        items.push_back({itemName, *info, false, std::nullopt});
    }
    if (items.empty()) {
        return {moveIn(folder, staging, placed) ? PlaceResult::Placed : PlaceResult::CopyFailed,
                {}};
    }
    for (OldItem& item : items) {
        openForMove(folder, item);
    }
    Placement result;
    const auto trashed = replaceThroughTrash(folder, items, staging, placed);
    result.result =
        trashed ? *trashed : replaceByKeeping(folder, items, staging, placed, now, result.keptIn);
    // The opened items get their own bits back, wherever in the server folder they are now.
    for (const OldItem& item : items) {
        if (!item.opened || item.trashed) {
            continue;
        }
        const std::string kept = result.keptIn.empty() ? "" : inside(result.keptIn, item.name);
        const bool isKept =
            !kept.empty() && folder.itemInfo(kept).value_or(ItemInfo{}).kind == ItemKind::Folder;
        folder.setPermissions(isKept ? kept : item.name, item.info.permissions);
    }
    return result;
}

// Hands each of the source's top-level items to a tree of its own in the staging folder, under
// the name it takes in the server folder, its root writable by its owner whatever its own bits: a
// folder that is not cannot be moved into place. The caller gives the roots their bits once they
// are there.
class SetSink : public TreeSink {
public:
    struct Item {
        std::string source;      // as the source names it
        std::string destination; // as it goes into the server folder
        std::unique_ptr<TreeSink> sink;
        std::optional<std::uint32_t> rootPermissions; // once made
    };

    SetSink(ServerFolder& folder, std::string staging, const std::vector<std::string>& sent,
            const std::string& name, const OwnershipPlan& ownership)
        : folder_(folder), staging_(std::move(staging)), ownership_(ownership) {
        // The world's own folder first; its companions keep their suffix after the new name.
        const std::string world = sent.empty() ? std::string() : sent.front();
        for (const std::string& item : sent) {
            for (const char* suffix : {"", "_nether", "_the_end"}) {
                if (!world.empty() && item == world + suffix &&
                    std::ranges::none_of(items_, [&](const Item& i) { return i.source == item; })) {
                    items_.push_back({item, name + suffix, nullptr, std::nullopt});
                }
            }
        }
    }

    bool makeFolder(const TransferItem& item) override {
        const auto [top, inside] = route(item);
        if (top == nullptr) {
            return false;
        }
        TransferItem routed = item;
        routed.relativePath = inside;
        if (!inside.empty()) {
            return top->sink ? top->sink->makeFolder(routed) : refuse(item); // parents first
        }
        if (top->sink) {
            return refuse(item); // the same item twice
        }
        top->sink = folder_.receiveTree(staging_ + '/' + top->destination, ownership_);
        if (!top->sink) {
            return false;
        }
        top->rootPermissions = item.permissions;
        routed.permissions |= ownerWrite;
        return top->sink->makeFolder(routed);
    }
    bool writeFile(const TransferItem& item, FileContent& content,
                   const ContentProgress& progress) override {
        const auto [top, inside] = route(item);
        if (top == nullptr || !top->sink || inside.empty()) {
            return top == nullptr ? false : refuse(item);
        }
        TransferItem routed = item;
        routed.relativePath = inside;
        return top->sink->writeFile(routed, content, progress);
    }
    bool makeLink(const TransferItem& item) override {
        const auto [top, inside] = route(item);
        if (top == nullptr || !top->sink || inside.empty()) {
            return top == nullptr ? false : refuse(item);
        }
        TransferItem routed = item;
        routed.relativePath = inside;
        return top->sink->makeLink(routed);
    }
    bool finish() override {
        return std::ranges::all_of(items_,
                                   [](Item& item) { return !item.sink || item.sink->finish(); });
    }
    bool sourceChanged() const override {
        return std::ranges::any_of(
            items_, [](const Item& item) { return item.sink && item.sink->sourceChanged(); });
    }

    // The items made, the world's own folder first; empty when the world's own folder is not
    // among them.
    std::vector<const Item*> made() const {
        std::vector<const Item*> made;
        for (const Item& item : items_) {
            if (item.sink) {
                made.push_back(&item);
            }
        }
        return !made.empty() && made.front() == &items_.front() ? made : std::vector<const Item*>{};
    }

private:
    std::pair<Item*, std::string> route(const TransferItem& item) {
        const auto slash = item.relativePath.find('/');
        const std::string top = item.relativePath.substr(0, slash);
        for (Item& candidate : items_) {
            if (candidate.source == top) {
                return {&candidate, slash == std::string::npos
                                        ? std::string()
                                        : item.relativePath.substr(slash + 1)};
            }
        }
        refuse(item);
        return {nullptr, {}};
    }
    // An item outside the set the source declared, or out of order: a fault of the source that
    // must not put anything elsewhere.
    bool refuse(const TransferItem& item) {
        folder_.noteFailure({"copy", staging_ + '/' + item.relativePath,
                             std::make_error_code(std::errc::invalid_argument)});
        return false;
    }

    ServerFolder& folder_;
    std::string staging_;
    OwnershipPlan ownership_;
    std::vector<Item> items_;
};

// Puts the items of an older version's aside folder back under their own names while the world's
// name is free: the copy that set them aside never finished. Otherwise the copy took their place,
// and they join the kept old worlds.
void recoverSetAside(ServerFolder& folder, const std::string& aside,
                     std::chrono::system_clock::time_point now) {
    const auto held = folder.entries(aside);
    if (!held || held->size() > worldItemNames({}).size()) {
        return; // not as a copy leaves it: not ours to judge
    }
    if (held->empty()) {
        folder.removeTree(aside);
        return;
    }
    const std::string world = *std::min_element(
        held->begin(), held->end(),
        [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
    const std::vector<std::string> items = worldItemNames(world);
    for (const std::string& name : *held) {
        if (std::find(items.begin(), items.end(), name) == items.end()) {
            return;
        }
    }
    const auto there = existingWorldItems(folder, world);
    if (!there) {
        return;
    }
    if (!there->empty()) {
        if (const auto keep = freeKeepName(folder, now)) {
            folder.rename(aside, *keep);
        }
        return;
    }
    // The world last, so that a crash meanwhile still finds it here.
    bool allBack = true;
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        if (std::find(held->begin(), held->end(), *it) != held->end()) {
            allBack = folder.rename(inside(aside, *it), *it) && allBack;
        }
    }
    if (allBack) {
        folder.removeTree(aside); // empty again
    }
}

} // namespace

std::vector<std::string> worldItemNames(const std::string& name) {
    return {name, name + "_nether", name + "_the_end"};
}

std::optional<std::vector<std::string>> existingWorldItems(ServerFolder& folder,
                                                           const std::string& name) {
    std::vector<std::string> existing;
    for (std::string& item : worldItemNames(name)) {
        const auto info = folder.itemInfo(item);
        if (!info) {
            return std::nullopt;
        }
        if (info->kind != ItemKind::Missing) {
            existing.push_back(std::move(item));
        }
    }
    return existing;
}

std::optional<bool> worldInUse(ServerFolder& folder, const std::string& name) {
    std::optional<bool> inUse = false;
    for (const std::string& item : worldItemNames(name)) {
        const std::optional<bool> held =
            folder.isLockHeld(inside(item, std::string(sessionLockName)));
        if (held == std::optional(true)) {
            return true;
        }
        if (!held) {
            inUse.reset();
        }
    }
    return inUse;
}

OwnershipDecision planOwnership(const std::optional<Account>& account, const ItemInfo& folder,
                                const ItemInfo& serversFile, bool aclGrantsWrite) {
    if (!account) {
        return {}; // nothing to judge by: the far end's own rules apply
    }
    const std::uint32_t server = serversFile.owner;
    if (account->uid == 0) {
        return {{server, folder.group, false}, std::nullopt};
    }
    if (server == account->uid) {
        return {};
    }
    if (std::ranges::find(account->groups, folder.group) != account->groups.end()) {
        return {{std::nullopt, folder.group, true}, std::nullopt};
    }
    return {{}, aclGrantsWrite ? std::nullopt : std::optional(server)};
}

Placement placeCopy(ServerFolder& folder, WorldSource& source, const std::string& name,
                    bool replace, const OwnershipPlan& ownership,
                    const WorkProgressReport& progress, std::chrono::system_clock::time_point now) {
    if (const auto free = folder.freeBytes()) {
        source.limitBytes(*free);
    }
    const auto totals = source.totals();
    if (!totals) {
        if (const auto failure = source.takeFailure()) {
            folder.noteFailure(*failure);
        }
        return {};
    }
    const auto staging = folder.makeTemporaryFolder(std::string(stagingFolderPrefix));
    if (!staging) {
        return {};
    }

    Placement placed{PlaceResult::Placed, {}};
    WorkProgress last;
    const WorkProgressReport tracked = [&](const WorkProgress& done) {
        last = done;
        return !progress || progress(done);
    };
    const auto fail = [&](PlaceResult result) {
        if (placed.result == PlaceResult::Placed) {
            placed.result = result;
        }
    };
    SetSink set(folder, *staging, source.items(), name, ownership);
    switch (source.sendTo(set, tracked)) {
    case WorldSource::SendResult::Sent:
        break;
    case WorldSource::SendResult::Failed:
        fail(set.sourceChanged() ? PlaceResult::SourceChanged : PlaceResult::CopyFailed);
        break;
    case WorldSource::SendResult::Stopped:
        fail(PlaceResult::Stopped);
        break;
    case WorldSource::SendResult::SourceChanged:
        fail(PlaceResult::SourceChanged);
        break;
    }
    if (const auto failure = source.takeFailure()) {
        folder.noteFailure(*failure);
    }
    const std::vector<const SetSink::Item*> made = set.made();
    std::vector<std::string> names;
    for (const SetSink::Item* item : made) {
        names.push_back(item->destination);
    }
    if (placed.result == PlaceResult::Placed && (made.empty() || !set.finish())) {
        fail(set.sourceChanged() ? PlaceResult::SourceChanged : PlaceResult::CopyFailed);
    }
    // What replaces the old items must be on the disk before they give way.
    if (placed.result == PlaceResult::Placed && !folder.flush(*staging)) {
        fail(PlaceResult::CopyFailed);
    }
    // The flush can take a while: a stop asked for meanwhile still leaves everything as it was.
    if (placed.result == PlaceResult::Placed && progress && !progress(last)) {
        fail(PlaceResult::Stopped);
    }
    // Another program may have taken part of the staged set while it was copied.
    if (placed.result == PlaceResult::Placed) {
        TreeTotals counted;
        for (const std::string& item : names) {
            const auto one = folder.countTree(inside(*staging, item));
            counted.folders += one ? one->folders : 0;
            counted.files += one ? one->files : 0;
            counted.bytes += one ? one->bytes : 0;
            if (!one) {
                fail(PlaceResult::CopyFailed);
            }
        }
        if (counted != *totals) {
            fail(PlaceResult::CopyFailed);
        }
    }
    // The game may have opened the world after its last file was sent.
    if (placed.result == PlaceResult::Placed && source.isOpenInGame().value_or(false)) {
        fail(PlaceResult::SourceChanged);
    }
    // A server may have opened the world while it was copied: it would save over the new one.
    if (placed.result == PlaceResult::Placed && worldInUse(folder, name) == std::optional(true)) {
        fail(PlaceResult::InUse);
    }
    if (placed.result == PlaceResult::Placed) {
        placed = putInPlace(folder, name, *staging, names, replace, now);
    }
    folder.removeTree(*staging);
    for (const SetSink::Item* item : made) {
        if (placed.result == PlaceResult::Placed && item->rootPermissions &&
            (*item->rootPermissions & ownerWrite) == 0) {
            // A read-only folder gets its own bits only now that it is in place; should that
            // fail, the world is whole all the same. A group inherited from a setgid folder stays.
            const auto info = folder.itemInfo(item->destination);
            folder.setPermissions(item->destination,
                                  (*item->rootPermissions & 0777) |
                                      (info ? info->permissions & setGroupId : 0));
        }
    }
    return placed;
}

void recoverLeftovers(ServerFolder& folder, std::chrono::system_clock::time_point now) {
    const auto names = folder.entries("");
    if (!names) {
        return;
    }
    for (const std::string& name : *names) {
        const bool staging = hasRandomSuffix(name, stagingFolderPrefix);
        const bool aside = hasRandomSuffix(name, asideFolderPrefix);
        const bool temporary = hasRandomSuffix(name, propsTemporaryPrefix);
        if (!staging && !aside && !temporary) {
            continue;
        }
        // We only ever make folders, or for server.properties a file, of these names; what
        // another account made is not ours to walk.
        const auto info = folder.itemInfo(name);
        if (!info || !info->ownedByUser ||
            info->kind != (temporary ? ItemKind::RegularFile : ItemKind::Folder)) {
            continue;
        }
        if (aside) {
            recoverSetAside(folder, name, now);
        } else {
            folder.removeTree(name);
        }
    }
}

} // namespace Plovermantle
