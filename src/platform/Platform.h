#pragma once

#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/Preferences.h"
#include "platform/RemoteHostPrompts.h"

namespace Plovermantle {

// Everything the logic needs from the outside world, handed in so that tests can stand in for it.
struct Platform {
    FileSystem& files;
    Preferences& prefs;
    Dialogs& dialogs;
    // What connecting to a server folder on another computer asks the user; without it such a
    // folder cannot be reached.
    RemoteHostPrompts* remotePrompts = nullptr;
};

} // namespace Plovermantle
