#include "platform/FileSystem.h"

#include <utility>

namespace Plovermantle {

const std::error_category& fileProblemCategory() {
    static const struct : std::error_category {
        const char* name() const noexcept override { return "file"; }
        std::string message(int problem) const override {
            switch (static_cast<FileProblem>(problem)) {
            case FileProblem::NotRegularFile:
                return "not a regular file";
            case FileProblem::NotUtf8Text:
                return "not UTF-8 text";
            case FileProblem::LinkNotFollowed:
                return "a symbolic link, which is not followed here";
            case FileProblem::ForeignLink:
                return "a symbolic link made by another user, which is not followed";
            case FileProblem::ForeignItem:
                return "made by another user, and so left alone";
            case FileProblem::LockedElsewhere:
                return "held by a process that is still running";
            }
            return "unknown problem";
        }
    } category;
    return category;
}

std::string describe(const FileFailure& failure) {
    return failure.operation + ' ' + failure.path + ": " + failure.error.message();
}

void FailureNote::noteFailure(FileFailure failure) {
    const std::lock_guard lock(mutex_);
    if (!failure_) {
        failure_ = std::move(failure);
    }
}

std::optional<FileFailure> FailureNote::takeFailure() {
    const std::lock_guard lock(mutex_);
    return std::exchange(failure_, std::nullopt);
}

} // namespace Plovermantle
