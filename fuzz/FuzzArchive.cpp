// Any bytes as an archive: the world finder and the send of each world it finds must give an
// answer, never a crash, a hang or an allocation out of bounds, and never send an item outside
// the world's folders.
#include "worlds/Archive.h"

#include <array>
#include <cstdint>

namespace {

// Takes every item and reads every file to its end, as a server folder's sink does.
class ReadingSink : public Plovermantle::TreeSink {
public:
    explicit ReadingSink(const Plovermantle::ArchiveWorld& world) : world_(world) {}

    bool makeFolder(const Plovermantle::TransferItem& item) override {
        check(item);
        return true;
    }
    bool writeFile(const Plovermantle::TransferItem& item, Plovermantle::FileContent& content,
                   const Plovermantle::ContentProgress& progress) override {
        check(item);
        std::array<char, 4096> buffer{};
        while (const auto got = content.read(buffer.data(), buffer.size())) {
            if (*got == 0) {
                return true;
            }
            if (*got > buffer.size() || !progress(*got)) {
                __builtin_trap();
            }
        }
        return false;
    }
    bool makeLink(const Plovermantle::TransferItem& /*item*/) override {
        __builtin_trap(); // links are never taken from an archive
    }
    bool finish() override { return true; }

private:
    // Every item lies in the world's folder or a companion's, and climbs out of none.
    void check(const Plovermantle::TransferItem& item) const {
        const std::string& path = item.relativePath;
        if (path.empty() || path.front() == '/' || path.find("/../") != std::string::npos ||
            path.starts_with("../") || path.ends_with("/..") || path == "..") {
            __builtin_trap();
        }
        const std::string top = path.substr(0, path.find('/'));
        if (top != world_.name && top != world_.name + "_nether" &&
            top != world_.name + "_the_end") {
            __builtin_trap();
        }
    }

    const Plovermantle::ArchiveWorld& world_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace Plovermantle;
    const ArchiveInput input{
        .path = {}, .bytes = {reinterpret_cast<const char*>(data), size}, .name = "fuzz.zip"};
    // Small caps, so that one input costs little time and memory whatever it claims.
    const ArchiveLimits limits{
        .maxBytes = 16u << 20, .maxEntries = 2000, .maxRatio = 200, .ratioAllowance = 1u << 20};
    FileFailure failure;
    const auto worlds = findArchiveWorlds(input, limits, failure);
    if (!worlds) {
        return 0;
    }
    for (const ArchiveWorld& world : *worlds) {
        ArchiveWorldSource source(input, world, limits);
        ReadingSink sink(world);
        (void)source.totals();
        (void)source.sendTo(sink, [](const WorkProgress&) { return true; });
    }
    return 0;
}
