#pragma once
// Archives made with libarchive's writer, for the tests of what the app reads from them.

#include <archive.h>
#include <archive_entry.h>
#include <clocale>
#include <locale.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace Plovermantle::Testing {

// An archive of `format` ("zip", "zip-cp437", "7z", "tar", "tar.gz", "tar.xz", "tar.zst") holding
// `entries` in order: "d:path" a folder, "f:path=contents" a file, "z:path=N" a file of N zero
// bytes, "l:path>target" a symbolic link, "h:path>target" a hard link. Paths are stored as given.
inline std::string makeArchive(const std::string& format, const std::vector<std::string>& entries) {
    // Names are given in UTF-8, whatever the test's locale.
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    const locale_t previous = ::uselocale(utf8);
    std::unique_ptr<archive, int (*)(archive*)> a(archive_write_new(), archive_write_free);
    const char* filter = format == "tar.gz"    ? "gzip"
                         : format == "tar.xz"  ? "xz"
                         : format == "tar.zst" ? "zstd"
                                               : nullptr;
    archive_write_set_format_by_name(a.get(), format.starts_with("zip") ? "zip"
                                              : format == "7z"          ? "7zip"
                                                                        : "paxr");
    if (filter != nullptr) {
        archive_write_add_filter_by_name(a.get(), filter);
    }
    if (format == "zip-cp437") {
        archive_write_set_options(a.get(), "zip:hdrcharset=CP437");
    }
    std::string buffer(64u << 20, '\0');
    std::size_t used = 0;
    if (archive_write_open_memory(a.get(), buffer.data(), buffer.size(), &used) != ARCHIVE_OK) {
        throw std::runtime_error(archive_error_string(a.get()));
    }
    for (const std::string& item : entries) {
        const char kind = item.at(0);
        const auto split = item.find_first_of("=>", 2);
        const std::string path = item.substr(2, split == std::string::npos ? split : split - 2);
        const std::string value = split == std::string::npos ? "" : item.substr(split + 1);
        std::unique_ptr<archive_entry, void (*)(archive_entry*)> entry(archive_entry_new(),
                                                                       archive_entry_free);
        archive_entry_copy_pathname(entry.get(), path.c_str());
        archive_entry_set_mtime(entry.get(), 1700000000, 0);
        std::string data;
        if (kind == 'd') {
            archive_entry_set_filetype(entry.get(), AE_IFDIR);
            archive_entry_set_perm(entry.get(), 0755);
        } else if (kind == 'l') {
            archive_entry_set_filetype(entry.get(), AE_IFLNK);
            archive_entry_copy_symlink(entry.get(), value.c_str());
        } else if (kind == 'h') {
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_copy_hardlink(entry.get(), value.c_str());
        } else {
            data = kind == 'z' ? std::string(std::stoul(value), '\0') : value;
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_perm(entry.get(), 0644);
            archive_entry_set_size(entry.get(), static_cast<la_int64_t>(data.size()));
        }
        if (archive_write_header(a.get(), entry.get()) < ARCHIVE_WARN ||
            (!data.empty() && archive_write_data(a.get(), data.data(), data.size()) < 0)) {
            throw std::runtime_error(archive_error_string(a.get()));
        }
    }
    archive_write_close(a.get());
    ::uselocale(previous);
    buffer.resize(used);
    return buffer;
}

} // namespace Plovermantle::Testing
