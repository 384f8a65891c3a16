#pragma once

#include "platform/Dialogs.h"
#include "platform/FileSystem.h"

#include <optional>
#include <string>
#include <vector>

// Every alert the app shows, word for word, in one place: the code and its tests both read them
// from here.
namespace Plovermantle::Messages {

// An "Error!" alert telling `informativeText`, with `details` behind its Show Details button.
inline Alert error(std::string informativeText, std::string details = {}) {
    return {.messageText = "Error!",
            .informativeText = std::move(informativeText),
            .style = AlertStyle::Warning,
            .details = std::move(details)};
}

inline const Alert comeOn{
    .messageText = "Come on!",
    .informativeText = "You must supply the what and where if you expect me to work for you.",
    .style = AlertStyle::Warning};
inline const Alert worldExists{.buttons = {"Replace", "Cancel"},
                               .messageText = "World exists!",
                               .informativeText = "Do you want to replace?",
                               .style = AlertStyle::Warning};
inline const Alert unableToReplace = error("Unable to replace world.");
inline const Alert unableToCopy = error("Unable to copy world.");
inline const Alert unableToConnect =
    error("Unable to reach the server folder on the other computer. Nothing was copied.");
inline const Alert worldCopied{.messageText = "World copied.",
                               .informativeText = "Be sure to restart the server."};

inline const Alert badWorldName = error("The world's name cannot be used as a folder name.");
inline const Alert worldNameNotUtf8 =
    error("The world's folder name is not valid UTF-8 text, so the server could not find it. "
          "Rename the folder in the saves folder, then copy it again.");
inline const Alert serverIsSavesFolder =
    error("The server folder is the saves folder, so the world would be copied onto itself. "
          "Choose another server folder.");
inline const Alert serverInsideWorld =
    error("The server folder is inside the world, so the world would be copied into itself. "
          "Choose another server folder.");
inline const Alert worldInsideReplaced =
    error("The world is inside the folder it would replace. Choose another server folder.");

inline const Alert worldOpenInGame =
    error("The world is open in the game. Save and quit to the title screen, then copy it again.");
inline const Alert serverRunningUnknown{
    .buttons = {"Copy", "Cancel"},
    .messageText = "The app cannot see whether the server is running on this host.",
    .informativeText = "Stop the server before copying.",
    .style = AlertStyle::Warning};
inline const Alert serverRunsWorld =
    error("The server is running this world. Stop the server, then copy it again.");
inline const Alert anotherCopyUnderWay =
    error("Another copy into this server folder is under way. Try again when it has finished.");

inline const Alert serverFolderUnusable =
    error("The server folder is gone or is not a folder. Choose another server folder.");
inline const Alert worldChangedWhileCopied =
    error("The world was opened in the game while it was being copied. Save and quit to the title "
          "screen, then copy it again.");
inline const Alert archiveChangedWhileCopied =
    error("The archive changed while the world was being copied from it. Open it again, then copy "
          "the world again.");
inline const Alert noServerProperties{
    .buttons = {"Copy", "Cancel"},
    .messageText = "No server.properties",
    .informativeText = "This folder has no server.properties. A server that has never been started "
                       "has none yet. Copy the world there anyway?",
    .style = AlertStyle::Warning};
inline const Alert propsTooLarge =
    error("server.properties is larger than 1 MiB, which no server's settings are. Nothing was "
          "copied.");

// A name inside a composed text, isolated so that a right-to-left one does not reorder the rest.
inline std::string quoted(const std::string& name) {
    return "“\u2068" + name + "\u2069”";
}

// "“A”", "“A” and “B”", "“A”, “B” and “C”".
inline std::string quotedList(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + quoted(names[i]);
    }
    return text;
}

// "World exists!", saying what Replace does with the items there.
inline Alert replacePrompt(const std::vector<std::string>& items, const std::string& folder,
                           bool remote) {
    Alert alert = worldExists;
    alert.informativeText += " Replace moves " + quotedList(items) + " in " + quoted(folder) +
                             (remote ? " to its .plovermantle-replaced folder." : " to the Trash.");
    return alert;
}

// The server's account, named, cannot write what the copy makes.
inline Alert serverCannotWrite(const std::string& account) {
    return {.buttons = {"Copy", "Cancel"},
            .messageText = "The server may not be able to use the world",
            .informativeText = "The server runs as " + quoted(account) +
                               ", and nothing in this folder lets that account write the copied "
                               "world, which the server needs to start on it. Copy it anyway?",
            .style = AlertStyle::Warning};
}

// Another copy holds the folder's lock; a lock from another computer, or one that cannot be read,
// may be removed by the user.
inline Alert anotherCopy(const std::string& details, bool removable) {
    Alert alert = anotherCopyUnderWay;
    alert.details = details;
    if (removable) {
        alert.buttons = {"OK", "Remove Lock…"};
    }
    return alert;
}
inline const Alert confirmLockRemoval{
    .buttons = {"Remove Lock", "Cancel"},
    .messageText = "Remove the lock?",
    .informativeText = "Remove it only when no copy into this server folder is still running, "
                       "for example when the computer that made it crashed during a copy. Two "
                       "copies at once would mix their files.",
    .style = AlertStyle::Warning};

// The server.properties step after a copy; `line` is the level-name line to write by hand.
inline Alert propsNotRead(const std::string& line) {
    return error("The world was copied, but server.properties could not be read, so the server "
                 "still runs its old world. Set " +
                 line + " in it, then restart the server.");
}
inline Alert noLevelNameLine(const std::string& line) {
    return error("server.properties has no level-name line, so the server will load the world "
                 "named “world”. Add " +
                 line + " to it, then restart the server.");
}

inline const Alert propsWriteFailed =
    error("Unable to write server.properties. Yeah, do it yourself...");

// `alert` with the file operation that failed, when one did, behind its Show Details button.
inline Alert withDetails(Alert alert, const std::optional<FileFailure>& failure) {
    if (failure) {
        alert.details = describe(*failure);
    }
    return alert;
}

// The progress dialog's label while `worldName` is copied.
inline std::string copyingLabel(const std::string& worldName) {
    return "Copying “" + worldName + "”";
}

inline std::string connectingLabel(const std::string& host) {
    return "Connecting to " + host + "…";
}

} // namespace Plovermantle::Messages
