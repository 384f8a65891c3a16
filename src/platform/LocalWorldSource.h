#pragma once

#include "platform/Descriptors.h"
#include "platform/ServerFolder.h"

#include <memory>
#include <utility>

namespace Plovermantle {

// A world folder of this computer, as the game saved it: walked by descriptors without following
// a link, each regular file handed over open so that the copy can clone it.
class LocalWorldSource : public WorldSource {
public:
    // Nothing, with why in `failure`, when `path` is not a folder (a link to one is refused).
    static std::unique_ptr<LocalWorldSource> open(const std::string& path,
                                                  FileFailure* failure = nullptr);

    std::string displayName() const override { return path_; }
    // The folder's own name: a world from the saves folder comes without its Nether or End.
    std::vector<std::string> items() const override { return {name_}; }
    std::optional<TreeTotals> totals() override;
    SendResult sendTo(TreeSink& sink, const WorkProgressReport& progress) override;
    std::optional<FileFailure> takeFailure() override { return std::exchange(failure_, {}); }
    std::optional<bool> isOpenInGame() override;
    std::optional<std::string> localPath() const override { return path_; }

private:
    LocalWorldSource(Descriptor root, std::string path, std::string name)
        : root_(std::move(root)), path_(std::move(path)), name_(std::move(name)) {}
    bool fail(const char* operation, const std::string& relative, std::error_code error);

    Descriptor root_;
    std::string path_;
    std::string name_;
    std::optional<TreeTotals> totals_;
    std::optional<FileFailure> failure_;
};

} // namespace Plovermantle
