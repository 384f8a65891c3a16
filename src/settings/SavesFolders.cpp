#include "settings/SavesFolders.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "settings/InstanceConfig.h"
#include "settings/Settings.h"

#include <QFile>
#include <QStandardPaths>
#include <QString>
#include <algorithm>
#include <set>

namespace Plovermantle {

namespace {

// An instance's worlds live in its game folder, which launchers have named both ways over time.
std::optional<std::string> instanceSaves(FileSystem& files, const std::string& instance) {
    for (const char* gameFolder : {"minecraft/saves", ".minecraft/saves"}) {
        std::string saves = joinPath(instance, gameFolder);
        if (isFolder(files, saves)) {
            return saves;
        }
    }
    return std::nullopt;
}

} // namespace

bool isFolder(FileSystem& files, const std::string& path) {
    const std::optional<std::string> resolved = files.canonicalPath(path);
    if (!resolved) {
        return false;
    }
    const std::optional<ItemInfo> info = files.itemInfo(*resolved);
    return info && info->kind == ItemKind::Folder;
}

std::vector<LauncherPlace> launcherPlaces() {
#if defined(Q_OS_MACOS)
    const std::string prism =
        joinPath(userLibraryFolder(), "Application Support/PrismLauncher/instances");
    return {{Launcher::Game, defaultSavesFolder(), false}, {Launcher::Prism, prism, true}};
#elif defined(Q_OS_WIN)
    const std::string prism = joinPath(userLibraryFolder(), "PrismLauncher/instances");
    return {{Launcher::Game, defaultSavesFolder(), false}, {Launcher::Prism, prism, true}};
#else
    const std::string home = userLibraryFolder();
    const std::string dataHome =
        QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
            .toStdString();
    std::vector<LauncherPlace> places{
        {Launcher::Game, defaultSavesFolder(), false},
        {Launcher::GameFlatpak, joinPath(home, ".var/app/com.mojang.Minecraft/.minecraft/saves"),
         false},
        {Launcher::PrismFlatpak,
         joinPath(home, ".var/app/org.prismlauncher.PrismLauncher/data/PrismLauncher/instances"),
         true},
    };
    // An empty answer would make a path relative to wherever we were started.
    if (!dataHome.empty()) {
        places.insert(places.begin() + 2,
                      {Launcher::Prism, joinPath(dataHome, "PrismLauncher/instances"), true});
    }
    return places;
#endif
}

std::vector<FoundSavesFolder> findSavesFolders(FileSystem& files,
                                               const std::vector<LauncherPlace>& places) {
    std::vector<FoundSavesFolder> found;
    std::set<std::string> seen; // resolved paths, so that a linked folder is offered once
    const auto offer = [&](FoundSavesFolder folder) {
        const std::optional<std::string> resolved = files.canonicalPath(folder.path);
        if (resolved && seen.insert(*resolved).second) {
            found.push_back(std::move(folder));
        }
    };
    for (const LauncherPlace& place : places) {
        if (!place.holdsInstances) {
            if (isFolder(files, place.path)) {
                offer({place.launcher, {}, place.path});
            }
            continue;
        }
        std::vector<FoundSavesFolder> instances;
        for (const ListedEntry& entry :
             files.listFolder(place.path).value_or(std::vector<ListedEntry>{})) {
            const std::string instance = joinPath(place.path, entry.name.c_str());
            std::optional<std::string> saves = instanceSaves(files, instance);
            if (!saves) {
                continue;
            }
            const std::optional<std::string> config =
                files.readFileStart(joinPath(instance, "instance.cfg"), instanceConfigReadLimit);
            const std::optional<std::string> name =
                config ? instanceNameFromConfig(*config) : std::nullopt;
            instances.push_back({place.launcher, name.value_or(entry.name), std::move(*saves)});
        }
        std::sort(instances.begin(), instances.end(), [](const auto& a, const auto& b) {
            return QString::fromUtf8(a.instanceName)
                       .compare(QString::fromUtf8(b.instanceName), Qt::CaseInsensitive) < 0;
        });
        std::for_each(instances.begin(), instances.end(), offer);
    }
    return found;
}

} // namespace Plovermantle
