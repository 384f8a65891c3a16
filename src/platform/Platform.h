#pragma once

#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/Preferences.h"

namespace Plovermantle {

// Everything the logic needs from the outside world, handed in so that tests can stand in for it.
struct Platform {
    FileSystem& files;
    Preferences& prefs;
    Dialogs& dialogs;
};

} // namespace Plovermantle
