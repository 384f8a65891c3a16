// plovermantle-cli: the window's job from a terminal or a script, with the same engine and texts.
#include "app/AppInfo.h"
#include "cli/Deploy.h"
#include "cli/TerminalDialogs.h"
#include "cli/TerminalPrompts.h"
#include "platform/PosixFileSystem.h"
#include "platform/QtPreferences.h"
#include "settings/Settings.h"
#include "worlds/Archive.h"
#include "worlds/Messages.h"
#include "worlds/WorldDiscovery.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <iostream>
#include <map>

using namespace Plovermantle;
using namespace Plovermantle::Cli;

namespace {

constexpr int usageStatus = 2;

const char* const usage =
    "Usage: plovermantle-cli list [--saves DIR|ARCHIVE]\n"
    "       plovermantle-cli copy WORLD [--saves DIR|ARCHIVE] [--to SERVER] [--replace]\n"
    "                             [--accept-new-host-key]\n"
    "       plovermantle-cli --help | --version\n";

const char* const help =
    "Lists the worlds of a saves folder or an archive, and deploys one to a server folder: the\n"
    "world is copied in, server.properties is backed up to server.properties.backup, and its\n"
    "level-name points at the world.\n"
    "\n"
    "  list                   one world a line: folder, tab, name, tab, last played (UTC) or -\n"
    "  copy WORLD             deploys the world whose folder is named exactly WORLD\n"
    "  --saves DIR|ARCHIVE    where the worlds are (default: the saves folder the app remembers)\n"
    "  --to SERVER            the server folder (default: the one the app remembers)\n"
    "  --replace              replaces a world of that name on the server (to the Trash)\n"
    "  --accept-new-host-key  trusts and remembers an SSH server's key seen for the first time\n"
    "\n"
    "Exit status: 0 deployed; 1 failed or interrupted, the server folder as it was; 2 bad usage;\n"
    "3 the world exists and --replace was not given; 4 deployed, but server.properties could not\n"
    "be read or written.\n";

struct Arguments {
    std::string command;
    std::string world;
    std::optional<std::string> saves;
    std::optional<std::string> server;
    bool replace = false;
    bool acceptNewHostKey = false;
};

// Nothing when the command line makes no sense.
std::optional<Arguments> parse(const std::vector<std::string>& words) {
    Arguments arguments;
    std::vector<std::string> plain;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        const auto value = [&](const std::string& option) -> std::optional<std::string> {
            if (word == option && i + 1 < words.size()) {
                return words[++i];
            }
            if (word.starts_with(option + "=")) {
                return word.substr(option.size() + 1);
            }
            return std::nullopt;
        };
        if (const auto saves = value("--saves")) {
            arguments.saves = saves;
        } else if (const auto server = value("--to")) {
            arguments.server = server;
        } else if (word == "--replace") {
            arguments.replace = true;
        } else if (word == "--accept-new-host-key") {
            arguments.acceptNewHostKey = true;
        } else if (word == "--") {
            plain.insert(plain.end(), words.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                         words.end());
            break;
        } else if (word.starts_with("-")) {
            return std::nullopt;
        } else {
            plain.push_back(word);
        }
    }
    if (plain.empty()) {
        return std::nullopt;
    }
    arguments.command = plain[0];
    if (arguments.command == "list" && plain.size() == 1 && !arguments.server &&
        !arguments.replace && !arguments.acceptNewHostKey) {
        return arguments;
    }
    if (arguments.command == "copy" && plain.size() == 2 && !plain[1].empty()) {
        arguments.world = plain[1];
        return arguments;
    }
    return std::nullopt;
}

// A field of a listed line: a tab or a line break in it would break the line in two.
std::string field(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            c = '?';
        }
    }
    return text;
}

std::string lastPlayed(const std::optional<LevelSummary>& level) {
    if (!level || !level->lastPlayed) {
        return "-";
    }
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(*level->lastPlayed, Qt::UTC);
    return time.isValid() ? time.toString(Qt::ISODate).toStdString() : "-";
}

std::string displayName(const std::optional<LevelSummary>& level, const std::string& folder) {
    if (level && level->name && !level->name->empty()) {
        return QString::fromStdU16String(*level->name).toStdString();
    }
    return folder;
}

void printWorld(const std::string& folder, const std::optional<LevelSummary>& level) {
    std::cout << field(folder) << '\t' << field(displayName(level, folder)) << '\t'
              << lastPlayed(level) << '\n';
}

// Whether `saves` names an archive rather than a folder.
bool isArchive(FileSystem& files, const std::string& saves) {
    const auto info = files.itemInfo(saves);
    return isArchiveName(saves) && !(info && info->kind == ItemKind::Folder);
}

std::optional<std::vector<ArchiveWorld>> readArchive(const std::string& path,
                                                     TerminalDialogs& dialogs) {
    FileFailure failure;
    auto worlds = findArchiveWorlds({.path = path, .bytes = {}, .name = path}, {}, failure);
    if (!worlds) {
        dialogs.runAlert(archiveRefusal(failure).value_or(
            Messages::error("Unable to read the archive.", describe(failure))));
    }
    return worlds;
}

int list(FileSystem& files, TerminalDialogs& dialogs, const std::string& saves) {
    if (isArchive(files, saves)) {
        const auto worlds = readArchive(saves, dialogs);
        if (!worlds) {
            return 1;
        }
        for (const ArchiveWorld& world : *worlds) {
            printWorld(world.name, world.level);
        }
        return 0;
    }
    if (!files.listFolder(saves)) {
        dialogs.runAlert(
            Messages::withDetails(Messages::error("Unable to read the saves folder."),
                                  files.takeFailure().value_or(FileFailure{
                                      "list", saves, std::make_error_code(std::errc::io_error)})));
        return 1;
    }
    std::vector<WorldOrderKey> order;
    std::map<std::string, WorldDetails> details;
    for (const std::string& world : listWorlds(files, saves)) {
        WorldDetails read = readWorldDetails(files, saves + "/" + world);
        order.push_back({world, read.level ? read.level->lastPlayed : std::nullopt});
        details[world] = std::move(read);
    }
    orderWorlds(order);
    for (const WorldOrderKey& world : order) {
        printWorld(world.folder, details[world.folder].level);
    }
    return 0;
}

int copy(Platform platform, TerminalDialogs& dialogs, const Arguments& arguments,
         const std::string& saves, const std::string& server) {
    if (server.empty()) {
        dialogs.runAlert(Messages::comeOn);
        return usageStatus;
    }
    if (isArchive(platform.files, saves)) {
        auto worlds = readArchive(saves, dialogs);
        if (!worlds) {
            return 1;
        }
        std::erase_if(*worlds,
                      [&](const ArchiveWorld& world) { return world.name != arguments.world; });
        if (worlds->size() != 1) {
            dialogs.runAlert(Messages::error(
                worlds->empty() ? "The archive holds no world of that name."
                                : "The archive holds more than one world of that name.",
                saves + ": " + arguments.world));
            return 1;
        }
        // The server folder's free space caps what is unpacked, once it is open.
        ArchiveWorldSource source({.path = saves, .bytes = {}, .name = saves}, worlds->front(), {});
        return exitStatus(deployWorld(platform, dialogs, source, server));
    }
    const auto world = platform.files.itemInfo(saves + "/" + arguments.world);
    if (!world || world->kind != ItemKind::Folder) {
        dialogs.runAlert(Messages::error("The saves folder holds no world of that name.",
                                         saves + "/" + arguments.world));
        return 1;
    }
    return exitStatus(deployWorld(platform, dialogs, saves, server, arguments.world));
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // The window's settings: the folders it remembers are this program's defaults.
    QCoreApplication::setOrganizationName(QStringLiteral("Plovermantle"));
    QCoreApplication::setApplicationName(QString::fromUtf8(AppInfo::name));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(AppInfo::version));

    std::vector<std::string> words(argv + 1, argv + argc);
    if (words.size() == 1 && (words[0] == "--help" || words[0] == "-h")) {
        std::cout << usage << '\n' << help;
        return 0;
    }
    if (words.size() == 1 && words[0] == "--version") {
        std::cout << "plovermantle-cli " << AppInfo::version << '\n';
        return 0;
    }
    const auto arguments = parse(words);
    if (!arguments) {
        std::cerr << usage;
        return usageStatus;
    }

    PosixFileSystem files;
    QtPreferences prefs;
    TerminalDialogs dialogs(arguments->replace);
    const Settings settings(prefs, files);
    const std::string saves = arguments->saves.value_or(settings.savesFolder());
    if (arguments->command == "list") {
        return list(files, dialogs, saves);
    }
    // Listing writes nothing, and an interrupt simply ends it; a copy stops cleanly instead.
    catchStopSignals();
    const std::string server = arguments->server.value_or(settings.serverFolder());
    TerminalPrompts prompts(arguments->acceptNewHostKey);
    return copy({files, prefs, dialogs, &prompts}, dialogs, *arguments, saves, server);
}
