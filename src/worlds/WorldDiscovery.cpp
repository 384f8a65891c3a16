#include "worlds/WorldDiscovery.h"

#include "platform/FileSystem.h"
#include "worlds/IconPng.h"

#include <QCollator>
#include <QFile>
#include <algorithm>
#include <numeric>

namespace Plovermantle {

namespace {
// The game writes 64x64 icons of a few KiB; anything far bigger is not one.
constexpr std::size_t maxIconBytes = 1u << 20;
} // namespace

std::vector<std::string> listWorlds(FileSystem& files, const std::string& savesFolder) {
    std::vector<std::string> worlds;
    const auto entries = files.listFolder(savesFolder);
    if (!entries) {
        return worlds;
    }
    for (const ListedEntry& entry : *entries) {
        // An entry that could not be examined is left out rather than guessed at.
        if (entry.isDirectory.value_or(false)) {
            worlds.push_back(entry.name);
        }
    }
    return worlds;
}

WorldDetails readWorldDetails(FileSystem& files, const std::string& worldFolder) {
    WorldDetails details;
    if (const auto levelDat = files.readFile(worldFolder + "/level.dat", maxLevelDatBytes)) {
        details.level = readLevelDat(*levelDat);
    }
    // Only the image's own chunks reach the decoder: a few KiB of compressed text could otherwise
    // inflate to gigabytes.
    if (const auto icon = files.readFile(worldFolder + "/icon.png", maxIconBytes)) {
        details.icon = iconImageChunks(*icon).value_or("");
    }
    return details;
}

void orderWorlds(std::vector<WorldOrderKey>& worlds) {
    QCollator collator;
    collator.setNumericMode(true);
    // Each name turned into its collation key once, not at every comparison.
    std::vector<QCollatorSortKey> names;
    names.reserve(worlds.size());
    for (const WorldOrderKey& world : worlds) {
        names.push_back(
            collator.sortKey(QFile::decodeName(QByteArray::fromStdString(world.folder))));
    }
    std::vector<std::size_t> order(worlds.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (worlds[a].lastPlayed != worlds[b].lastPlayed) {
            // A date before none, a later one before an earlier one.
            return worlds[b].lastPlayed < worlds[a].lastPlayed;
        }
        const int byName = names[a].compare(names[b]);
        // Names the collator takes as equal still get one order.
        return byName != 0 ? byName < 0 : worlds[a].folder < worlds[b].folder;
    });
    std::vector<WorldOrderKey> sorted;
    sorted.reserve(worlds.size());
    for (const std::size_t i : order) {
        sorted.push_back(std::move(worlds[i]));
    }
    worlds = std::move(sorted);
}

} // namespace Plovermantle
