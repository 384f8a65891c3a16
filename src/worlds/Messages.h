#pragma once

#include "platform/Dialogs.h"
#include "platform/FileSystem.h"

#include <optional>
#include <string>

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
inline const Alert serverRunsWorld =
    error("The server is running this world. Stop the server, then copy it again.");
inline const Alert anotherCopyUnderWay =
    error("Another copy into this server folder is under way. Try again when it has finished.");

inline const Alert propsWriteFailed =
    error("Unable to write server.properties. Yeah, do it yourself...");
inline const Alert propsUnreadable = error("Unable to read server.properties: it is missing, "
                                           "unreadable or not UTF-8 text. Nothing was changed.");

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

} // namespace Plovermantle::Messages
