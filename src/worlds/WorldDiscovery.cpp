#include "worlds/WorldDiscovery.h"

#include "platform/FileSystem.h"

#include <QCollator>
#include <QFile>
#include <algorithm>

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
    details.icon = files.readFile(worldFolder + "/icon.png", maxIconBytes).value_or("");
    return details;
}

void orderWorlds(std::vector<WorldOrderKey>& worlds) {
    QCollator collator;
    collator.setNumericMode(true);
    const auto name = [](const WorldOrderKey& world) {
        return QFile::decodeName(QByteArray::fromStdString(world.folder));
    };
    std::stable_sort(worlds.begin(), worlds.end(), [&](const auto& a, const auto& b) {
        if (a.lastPlayed != b.lastPlayed) {
            // A date before none, a later one before an earlier one.
            return b.lastPlayed < a.lastPlayed;
        }
        const int order = collator.compare(name(a), name(b));
        // Names the collator takes as equal still get one order.
        return order != 0 ? order < 0 : a.folder < b.folder;
    });
}

} // namespace Plovermantle
