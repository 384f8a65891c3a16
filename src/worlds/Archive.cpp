#include "worlds/Archive.h"

#include "worlds/Messages.h"

#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <array>
#include <cerrno>
#include <clocale>
#include <fcntl.h>
#include <locale.h>
#include <map>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace Plovermantle {

const std::error_category& archiveProblemCategory() {
    static const struct : std::error_category {
        const char* name() const noexcept override { return "archive"; }
        std::string message(int problem) const override {
            switch (static_cast<ArchiveProblem>(problem)) {
            case ArchiveProblem::Unreadable:
                return "not an archive that can be read, or damaged or incomplete";
            case ArchiveProblem::PathOutside:
                return "a path that leads outside the folder it is unpacked into";
            case ArchiveProblem::NameNotUtf8:
                return "a name that is not UTF-8 text";
            case ArchiveProblem::TooLarge:
                return "more than the free space of the server folder";
            case ArchiveProblem::TooManyEntries:
                return "more entries than a world has";
            case ArchiveProblem::RatioTooHigh:
                return "unpacks to far more than its own size";
            case ArchiveProblem::Duplicate:
                return "a path that the archive holds twice";
            case ArchiveProblem::SizeMismatch:
                return "data of another size than its header announces";
            case ArchiveProblem::NoSuchWorld:
                return "no such world in the archive";
            }
            return "unknown problem";
        }
    } category;
    return category;
}

namespace {

constexpr std::array archiveExtensions{".tar.gz", ".tar.xz", ".tar.zst", ".tgz", ".txz",
                                       ".tzst",   ".tar",    ".zip",     ".7z"};

bool endsWithIgnoringCase(std::string_view text, std::string_view end) {
    return text.size() >= end.size() &&
           std::equal(end.begin(), end.end(), text.end() - static_cast<std::ptrdiff_t>(end.size()),
                      [](char a, char b) {
                          const auto lower = [](char c) {
                              return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
                          };
                          return lower(a) == lower(b);
                      });
}

bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t code = 0;
        if (byte < 0x80) {
            ++i;
            continue;
        } else if (byte >= 0xc2 && byte <= 0xdf) {
            length = 2;
            code = byte & 0x1fu;
        } else if (byte >= 0xe0 && byte <= 0xef) {
            length = 3;
            code = byte & 0x0fu;
        } else if (byte >= 0xf0 && byte <= 0xf4) {
            length = 4;
            code = byte & 0x07u;
        } else {
            return false;
        }
        if (i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xc0u) != 0x80u) {
                return false;
            }
            code = (code << 6) | (next & 0x3fu);
        }
        // Overlong forms, surrogates and code points past Unicode's end.
        constexpr std::array<std::uint32_t, 5> least{0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff) {
            return false;
        }
        i += length;
    }
    return true;
}

// A name as it can be shown whatever it holds: bytes that are not UTF-8 as \xNN.
std::string printable(std::string_view name) {
    if (isValidUtf8(name)) {
        return std::string(name);
    }
    std::string shown;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            shown += c;
        } else {
            constexpr char hex[] = "0123456789abcdef";
            shown += {'\\', 'x', hex[byte >> 4], hex[byte & 0xfu]};
        }
    }
    return shown;
}

// What the systems that make archives leave beside the files: never part of a world.
bool isJunk(std::string_view component) {
    return component == "__MACOSX" || component == ".DS_Store" || component == "Thumbs.db" ||
           component.starts_with("._");
}

std::string_view baseName(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view parentOf(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

// Whether `path` is `folder` or lies inside it ("" holds everything).
bool isAtOrUnder(std::string_view path, std::string_view folder) {
    return folder.empty() || path == folder ||
           (path.starts_with(folder) && path.size() > folder.size() && path[folder.size()] == '/');
}

// Archive names are read as UTF-8 whatever the user's locale: libarchive converts to the
// locale's character set, which would lose every name outside ASCII in the C locale.
class Utf8Locale {
public:
    Utf8Locale() {
        static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
        if (utf8 != nullptr) {
            previous_ = ::uselocale(utf8);
        }
    }
    ~Utf8Locale() {
        if (previous_ != nullptr) {
            ::uselocale(previous_);
        }
    }
    Utf8Locale(const Utf8Locale&) = delete;
    Utf8Locale& operator=(const Utf8Locale&) = delete;

private:
    locale_t previous_ = nullptr;
};

struct Entry {
    std::string path; // "/"-separated, without "." or empty parts; never "" itself
    ItemKind kind = ItemKind::Missing;
    std::optional<std::uint64_t> size; // as the header announces it
    std::uint32_t permissions = 0;
    FileTime modified;
};

// One pass through an archive, from its first entry: each entry's path checked, what is not a
// file or folder and the junk of other systems skipped, and every byte counted against the limits.
class ArchivePass {
public:
    ArchivePass(const ArchiveInput& input, const ArchiveLimits& limits)
        : input_(input), limits_(limits), archive_(archive_read_new(), archive_read_free) {
        const Utf8Locale utf8;
        if (!archive_) {
            fail(ArchiveProblem::Unreadable);
            return;
        }
        archive* a = archive_.get();
        archive_read_support_format_zip(a);
        archive_read_support_format_tar(a);
        archive_read_support_format_gnutar(a);
        archive_read_support_format_7zip(a);
        archive_read_support_filter_gzip(a);
        archive_read_support_filter_xz(a);
        archive_read_support_filter_zstd(a);
        // Zip names without the UTF-8 flag are in the code page of DOS, as Windows writes them.
        archive_read_set_options(a, "zip:hdrcharset=CP437");
        if (input.path.empty()) {
            packedBytes_ = input.bytes.size();
            if (archive_read_open_memory(a, input.bytes.data(), input.bytes.size()) != ARCHIVE_OK) {
                fail(ArchiveProblem::Unreadable);
            }
            return;
        }
        // Non-blocking, so that a pipe in the archive's place cannot make the open wait.
        fd_ = ::open(input.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat status {};
        if (fd_ < 0 || ::fstat(fd_, &status) != 0) {
            fail(std::error_code(errno, std::system_category()));
            return;
        }
        if (!S_ISREG(status.st_mode)) {
            fail(FileProblem::NotRegularFile);
            return;
        }
        packedBytes_ = static_cast<std::uint64_t>(status.st_size);
        version_ = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino) + ":" +
                   std::to_string(status.st_size) + ":" + std::to_string(status.st_mtim.tv_sec) +
                   "." + std::to_string(status.st_mtim.tv_nsec);
        if (archive_read_open_fd(a, fd_, 1 << 16) != ARCHIVE_OK) {
            fail(ArchiveProblem::Unreadable);
        }
    }
    ~ArchivePass() {
        archive_.reset();
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    ArchivePass(const ArchivePass&) = delete;
    ArchivePass& operator=(const ArchivePass&) = delete;

    // The next file or folder; nothing at the end or on failure (then failed() says so).
    std::optional<Entry> next() {
        const Utf8Locale utf8;
        while (!failure_) {
            archive_entry* header = nullptr;
            const int status = archive_read_next_header(archive_.get(), &header);
            if (status == ARCHIVE_EOF) {
                return std::nullopt;
            }
            if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
                fail(ArchiveProblem::Unreadable); // the header of an entry not known yet
                return std::nullopt;
            }
            if (++entries_ > limits_.maxEntries) {
                fail(ArchiveProblem::TooManyEntries);
                return std::nullopt;
            }
            entryBytes_ = 0;
            auto entry = checked(header);
            if (!entry || !withinRatio(entry->size.value_or(0))) {
                return std::nullopt;
            }
            if (entry->kind != ItemKind::Missing) {
                currentSize_ = entry->size;
                return entry;
            }
        }
        return std::nullopt;
    }

    // Reads the current file's data on: the bytes put in `buffer`, 0 at its end; nothing on
    // failure.
    std::optional<std::size_t> read(char* buffer, std::size_t capacity) {
        if (failure_) {
            return std::nullopt;
        }
        const Utf8Locale utf8;
        const la_ssize_t got = archive_read_data(archive_.get(), buffer, capacity);
        if (got < 0) {
            fail(ArchiveProblem::Unreadable, currentName_);
            return std::nullopt;
        }
        const auto count = static_cast<std::uint64_t>(got);
        entryBytes_ += count;
        unpackedBytes_ += count;
        if (unpackedBytes_ > limits_.maxBytes) {
            fail(ArchiveProblem::TooLarge);
            return std::nullopt;
        }
        if (!withinRatio(0)) {
            return std::nullopt;
        }
        // Headers are not trusted: what a file turns out to hold must be what was announced, or
        // the totals the copy is checked against would be wrong.
        if (currentSize_ &&
            (entryBytes_ > *currentSize_ || (got == 0 && entryBytes_ < *currentSize_))) {
            fail(ArchiveProblem::SizeMismatch, currentName_);
            return std::nullopt;
        }
        return static_cast<std::size_t>(got);
    }

    // The current file's data whole, when it holds at most `maxBytes`; nothing otherwise, which
    // is not a failure of the pass unless failed() says so.
    std::optional<std::string> readWhole(std::size_t maxBytes) {
        std::string data;
        std::array<char, 1 << 16> buffer{};
        while (const auto got = read(buffer.data(), buffer.size())) {
            if (*got == 0) {
                return data;
            }
            if (data.size() + *got > maxBytes) {
                return std::nullopt;
            }
            data.append(buffer.data(), *got);
        }
        return std::nullopt;
    }

    // Which version of the archive's file this pass reads: its identity, size and time.
    const std::string& version() const { return version_; }
    bool failed() const { return failure_.has_value(); }
    const std::optional<FileFailure>& failure() const { return failure_; }

private:
    // The entry with its path made plain; kind Missing for one to skip; nothing when the archive
    // must be refused for it.
    std::optional<Entry> checked(archive_entry* header) {
        const char* raw = archive_entry_pathname(header);
        if (raw == nullptr) {
            raw = archive_entry_pathname_utf8(header);
        }
        if (raw == nullptr) {
            fail(ArchiveProblem::NameNotUtf8, "?");
            return std::nullopt;
        }
        const std::string_view name(raw);
        currentName_ = printable(name);
        if (!isValidUtf8(name)) {
            fail(ArchiveProblem::NameNotUtf8, currentName_);
            return std::nullopt;
        }
        if (name.starts_with('/')) {
            fail(ArchiveProblem::PathOutside, currentName_);
            return std::nullopt;
        }
        Entry entry;
        bool junk = false;
        for (std::size_t start = 0; start <= name.size();) {
            const std::size_t end = std::min(name.find('/', start), name.size());
            const std::string_view part = name.substr(start, end - start);
            start = end + 1;
            if (part.empty() || part == ".") {
                continue;
            }
            if (part == "..") {
                fail(ArchiveProblem::PathOutside, currentName_);
                return std::nullopt;
            }
            junk = junk || isJunk(part);
            if (!entry.path.empty()) {
                entry.path += '/';
            }
            entry.path += part;
        }
        const auto type = archive_entry_filetype(header);
        if (junk || entry.path.empty() || archive_entry_hardlink(header) != nullptr ||
            (type != AE_IFREG && type != AE_IFDIR)) {
            return entry; // kind Missing: skipped
        }
        entry.kind = type == AE_IFDIR ? ItemKind::Folder : ItemKind::RegularFile;
        if (entry.kind == ItemKind::RegularFile && archive_entry_size_is_set(header) != 0) {
            entry.size =
                static_cast<std::uint64_t>(std::max<la_int64_t>(archive_entry_size(header), 0));
        }
        entry.permissions = static_cast<std::uint32_t>(archive_entry_perm(header)) & 0777u;
        if (archive_entry_mtime_is_set(header) != 0) {
            entry.modified = {archive_entry_mtime(header), archive_entry_mtime_nsec(header)};
        }
        return entry;
    }

    // Whether the bytes unpacked so far, and `announced` more, stay within the ratio. The data
    // libarchive's filters put out counts too, as data skipped in a compressed stream is unpacked
    // all the same.
    bool withinRatio(std::uint64_t announced) {
        const auto filtered = static_cast<std::uint64_t>(
            std::max<la_int64_t>(archive_filter_bytes(archive_.get(), 0), 0));
        const std::uint64_t unpacked = std::max(unpackedBytes_, filtered) + announced;
        const std::uint64_t allowed =
            packedBytes_ > UINT64_MAX / std::max<std::uint64_t>(limits_.maxRatio, 1)
                ? UINT64_MAX
                : packedBytes_ * limits_.maxRatio;
        if (unpacked > limits_.ratioAllowance && unpacked > allowed) {
            fail(ArchiveProblem::RatioTooHigh);
            return false;
        }
        return true;
    }

    void fail(std::error_code error, const std::string& entry = {}) {
        if (!failure_) {
            failure_ = FileFailure{"unpack",
                                   entry.empty() ? input_.name : input_.name + ": " + entry, error};
        }
    }
    void fail(ArchiveProblem problem, const std::string& entry = {}) {
        fail(make_error_code(problem), entry);
    }
    void fail(FileProblem problem) { fail(make_error_code(problem)); }

    const ArchiveInput& input_;
    const ArchiveLimits& limits_;
    std::unique_ptr<archive, int (*)(archive*)> archive_;
    int fd_ = -1;
    std::uint64_t packedBytes_ = 0;
    std::string version_;
    std::uint64_t unpackedBytes_ = 0;
    std::uint64_t entries_ = 0;
    std::uint64_t entryBytes_ = 0;
    std::optional<std::uint64_t> currentSize_;
    std::string currentName_;
    std::optional<FileFailure> failure_;
};

// Where an entry goes in the staging folder, when it belongs to `world`'s set.
std::optional<std::string> destinationOf(const ArchiveWorld& world, const std::string& path) {
    if (isAtOrUnder(path, world.path)) {
        if (world.path.empty()) {
            return world.name + '/' + path;
        }
        return world.name + path.substr(world.path.size());
    }
    for (const std::string& companion : world.companions) {
        if (isAtOrUnder(path, companion)) {
            return std::string(baseName(companion)) + path.substr(companion.size());
        }
    }
    return std::nullopt;
}

} // namespace

bool isArchiveName(std::string_view path) {
    return std::ranges::any_of(archiveExtensions, [&](std::string_view extension) {
        return endsWithIgnoringCase(path, extension);
    });
}

std::string archiveStem(std::string_view path) {
    std::string_view name = baseName(path);
    for (const std::string_view extension : archiveExtensions) {
        if (endsWithIgnoringCase(name, extension)) {
            name.remove_suffix(extension.size());
            break;
        }
    }
    return std::string(name);
}

std::optional<std::vector<ArchiveWorld>>
findArchiveWorlds(const ArchiveInput& input, const ArchiveLimits& limits, FileFailure& failure) {
    ArchivePass pass(input, limits);
    std::map<std::string, ItemKind> items; // every path, the folders above each included
    std::map<std::string, std::optional<LevelSummary>> levels; // by the folder holding level.dat
    std::vector<Entry> files;
    while (const auto entry = pass.next()) {
        for (std::string_view folder = parentOf(entry->path); !folder.empty();
             folder = parentOf(folder)) {
            items.emplace(folder, ItemKind::Folder);
        }
        items.emplace(entry->path, entry->kind);
        if (entry->kind != ItemKind::RegularFile) {
            continue;
        }
        files.push_back(*entry);
        if (baseName(entry->path) == "level.dat") {
            const auto data = pass.readWhole(maxLevelDatBytes);
            levels[std::string(parentOf(entry->path))] = data ? readLevelDat(*data) : std::nullopt;
        }
    }
    if (pass.failed()) {
        failure = *pass.failure();
        return std::nullopt;
    }
    const auto isFolder = [&](const std::string& path) {
        const auto item = items.find(path);
        return item != items.end() && item->second == ItemKind::Folder;
    };
    // A level.dat inside a world is the world's own business (a backup, a dimension's data).
    std::set<std::string> worldFolders;
    for (const auto& found : levels) {
        const std::string& folder = found.first;
        const bool nested = std::ranges::any_of(
            worldFolders, [&](const std::string& outer) { return isAtOrUnder(folder, outer); });
        if (!nested && (folder.empty() || isFolder(folder))) {
            worldFolders.insert(folder); // map order puts every folder before those inside it
        }
    }
    std::vector<ArchiveWorld> worlds;
    std::set<std::string> companionFolders;
    for (const std::string& folder : worldFolders) {
        ArchiveWorld world{
            .path = folder, .level = levels[folder], .archiveVersion = pass.version()};
        world.name = folder.empty() ? archiveStem(input.name) : std::string(baseName(folder));
        if (!folder.empty()) {
            for (const char* suffix : {"_nether", "_the_end"}) {
                const std::string companion = folder + suffix;
                if (isFolder(companion)) {
                    world.companions.push_back(companion);
                    companionFolders.insert(companion);
                }
            }
        }
        worlds.push_back(std::move(world));
    }
    // A server's Nether or End is deployed with its world, not offered as one.
    std::erase_if(worlds,
                  [&](const ArchiveWorld& world) { return companionFolders.contains(world.path); });
    for (ArchiveWorld& world : worlds) {
        for (const auto& [path, kind] : items) {
            if (destinationOf(world, path) && kind == ItemKind::Folder) {
                ++world.totals.folders;
            }
        }
        if (world.path.empty()) {
            ++world.totals.folders; // the world's own folder, which the archive has no entry for
        }
        for (const Entry& file : files) {
            if (destinationOf(world, file.path)) {
                ++world.totals.files;
                world.totals.bytes += file.size.value_or(0);
            }
        }
    }
    return worlds;
}

std::optional<Alert> archiveRefusal(const FileFailure& failure) {
    if (failure.error.category() != archiveProblemCategory()) {
        return std::nullopt;
    }
    // The entry the archive was refused for, when there is one, is named in the alert itself.
    const auto colon = failure.path.find(": ");
    const std::string entry =
        colon == std::string::npos ? std::string() : "“" + failure.path.substr(colon + 2) + "”";
    const std::string unusable = "The archive cannot be used: it holds ";
    std::string text;
    switch (static_cast<ArchiveProblem>(failure.error.value())) {
    case ArchiveProblem::Unreadable:
        text = "The archive cannot be read: it is damaged, incomplete or of a kind this app does "
               "not read.";
        break;
    case ArchiveProblem::PathOutside:
        text = unusable + "a path that leads outside its folder, " + entry + ".";
        break;
    case ArchiveProblem::NameNotUtf8:
        text = unusable + "a name that is not valid UTF-8 text, " + entry + ".";
        break;
    case ArchiveProblem::TooLarge:
        text = "The world is larger than the free space in the server folder.";
        break;
    case ArchiveProblem::TooManyEntries:
        text = unusable + "more files than any world has.";
        break;
    case ArchiveProblem::RatioTooHigh:
        text = "The archive cannot be used: it unpacks to far more than its own size, as only a "
               "damaged or malicious archive does.";
        break;
    case ArchiveProblem::Duplicate:
        text = unusable + entry + " twice.";
        break;
    case ArchiveProblem::SizeMismatch:
        text = "The archive is damaged: " + entry + " is not the size its header announces.";
        break;
    case ArchiveProblem::NoSuchWorld:
        text = "The world is no longer in the archive.";
        break;
    }
    return Messages::error(text, describe(failure));
}

ArchiveWorldSource::ArchiveWorldSource(ArchiveInput input, ArchiveWorld world, ArchiveLimits limits)
    : input_(std::move(input)), world_(std::move(world)), limits_(limits) {}

std::string ArchiveWorldSource::displayName() const {
    return input_.name + ": " + (world_.path.empty() ? world_.name : world_.path);
}

std::vector<std::string> ArchiveWorldSource::items() const {
    std::vector<std::string> items{world_.name};
    for (const std::string& companion : world_.companions) {
        items.emplace_back(baseName(companion));
    }
    return items;
}

void ArchiveWorldSource::limitBytes(std::uint64_t bytes) {
    limits_.maxBytes = std::min(limits_.maxBytes, bytes);
}

std::optional<TreeTotals> ArchiveWorldSource::totals() {
    // A world whose headers already announce more than fits is refused before anything is sent.
    if (world_.totals.bytes > limits_.maxBytes) {
        failure_ = FileFailure{"unpack", input_.name, make_error_code(ArchiveProblem::TooLarge)};
        return std::nullopt;
    }
    return world_.totals;
}

WorldSource::SendResult ArchiveWorldSource::sendTo(TreeSink& sink,
                                                   const WorkProgressReport& progress) {
    failure_.reset();
    ArchivePass pass(input_, limits_);
    WorkProgress done{.filesTotal = world_.totals.files, .bytesTotal = world_.totals.bytes};
    bool stopped = false;
    const auto report = [&] {
        stopped = stopped || (progress && !progress(done));
        return !stopped;
    };
    std::uint64_t bytesRead = 0;
    std::map<std::string, bool> sent; // whether each path sent is a folder
    const auto folderItem = [](const std::string& path, std::uint32_t permissions, FileTime time) {
        // The owner must be able to enter and fill every folder, whatever the archive says.
        return TransferItem{.relativePath = path,
                            .kind = ItemKind::Folder,
                            .permissions = (permissions != 0 ? permissions : 0755u) | 0700u,
                            .modified = time,
                            .linkTarget = {}};
    };
    // The folders above `path` that no entry has made yet, parents first.
    const auto makeParents = [&](std::string_view path) {
        std::vector<std::string> missing;
        for (std::string_view folder = parentOf(path); !folder.empty(); folder = parentOf(folder)) {
            if (sent.contains(std::string(folder))) {
                break;
            }
            missing.emplace_back(folder);
        }
        for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
            if (!sink.makeFolder(folderItem(*folder, 0, {}))) {
                return false;
            }
            sent.emplace(*folder, true);
        }
        return true;
    };
    const auto refuse = [&](ArchiveProblem problem, const std::string& path) {
        failure_ = FileFailure{"unpack", input_.name + ": " + path, make_error_code(problem)};
        return SendResult::Failed;
    };

    if (!report()) {
        return SendResult::Stopped;
    }
    // An archive replaced since it was listed may hold another world under the same name.
    if (!pass.failed() && pass.version() != world_.archiveVersion) {
        return SendResult::SourceChanged;
    }
    while (const auto entry = pass.next()) {
        const auto destination = destinationOf(world_, entry->path);
        if (!destination) {
            continue;
        }
        const bool isFolder = entry->kind == ItemKind::Folder;
        if (const auto before = sent.find(*destination); before != sent.end()) {
            // A folder named again (zip tools do) is harmless; a file named twice is not.
            if (isFolder && before->second) {
                continue;
            }
            return refuse(ArchiveProblem::Duplicate, entry->path);
        }
        if (!makeParents(*destination)) {
            return stopped ? SendResult::Stopped : SendResult::Failed;
        }
        if (isFolder) {
            if (!sink.makeFolder(folderItem(*destination, entry->permissions, entry->modified))) {
                return SendResult::Failed;
            }
            sent.emplace(*destination, true);
            continue;
        }
        TransferItem item{.relativePath = *destination,
                          .kind = ItemKind::RegularFile,
                          .size = entry->size.value_or(0),
                          .permissions =
                              (entry->permissions != 0 ? entry->permissions : 0644u) | 0600u,
                          .modified = entry->modified,
                          .linkTarget = {}};
        FileContent content{.read = [&](char* buffer, std::size_t capacity) {
            const auto got = pass.read(buffer, capacity);
            bytesRead += got.value_or(0);
            return got;
        }};
        const bool written = sink.writeFile(item, content, [&](std::uint64_t bytes) {
            done.bytesDone += bytes;
            return report();
        });
        if (pass.failed()) {
            failure_ = pass.failure();
            return SendResult::Failed;
        }
        if (!written) {
            return stopped ? SendResult::Stopped : SendResult::Failed;
        }
        sent.emplace(*destination, false);
        ++done.filesDone;
        if (!report()) {
            return SendResult::Stopped;
        }
    }
    if (pass.failed()) {
        failure_ = pass.failure();
        return SendResult::Failed;
    }
    // An archive changed since it was listed may no longer hold the world, or hold it changed:
    // what was sent must be what the copy is checked against.
    if (!sent.contains(world_.name)) {
        return refuse(ArchiveProblem::NoSuchWorld, world_.path);
    }
    if (done.filesDone != world_.totals.files || bytesRead != world_.totals.bytes) {
        return refuse(ArchiveProblem::SizeMismatch, world_.path);
    }
    return report() ? SendResult::Sent : SendResult::Stopped;
}

std::optional<FileFailure> ArchiveWorldSource::takeFailure() {
    return std::exchange(failure_, std::nullopt);
}

} // namespace Plovermantle
