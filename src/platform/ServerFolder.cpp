#include "platform/ServerFolder.h"

#include <utility>

namespace Plovermantle {

void ServerFolder::noteFailure(FileFailure failure) {
    const std::lock_guard lock(failureMutex_);
    if (!failure_) {
        failure_ = std::move(failure);
    }
}

std::optional<FileFailure> ServerFolder::takeFailure() {
    const std::lock_guard lock(failureMutex_);
    return std::exchange(failure_, std::nullopt);
}

} // namespace Plovermantle
