#include "platform/Trash.h"

#include <system_error>

namespace Plovermantle {

// Stands in until the freedesktop Trash lands: no Trash takes anything, so every item stays where
// it was and the caller keeps it aside instead.
std::optional<TrashedItem> moveToTrash(int /*parentFd*/, const std::string& parentPath,
                                       const std::string& name, FileFailure* failure) {
    if (failure != nullptr) {
        *failure = {"move to the Trash", parentPath + "/" + name,
                    std::make_error_code(std::errc::operation_not_supported)};
    }
    return std::nullopt;
}

bool restoreFromTrash(const TrashedItem& /*trashed*/, int /*parentFd*/,
                      const std::string& /*name*/) {
    return false;
}

} // namespace Plovermantle
