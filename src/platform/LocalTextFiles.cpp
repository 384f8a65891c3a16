// The small text files of a server folder (server.properties and its backup): read within bounds
// and replaced in one step, through a temporary file made inside the folder.
#include "platform/LocalServerFolder.h"

#include <QByteArrayView>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace Plovermantle {

std::optional<TextFile> LocalServerFolder::readTextFile(const std::string& relative,
                                                        std::size_t maxBytes) {
    const auto parent = openParent(relative, "read");
    if (!parent) {
        return std::nullopt;
    }
    std::string path = relative;
    const auto failRead = [&](std::error_code error) {
        noteFailure({"read", pathOf(path), error});
        return std::nullopt;
    };
    Descriptor file(openEntry(parent->folder.get(), parent->name, O_RDONLY));
    if (!file.valid() && errno == ELOOP) {
        // Only a link the user made is followed, only straight to the file, and only to a file
        // inside the server folder: anyone else's could name a file that user may read and others
        // may not, and nothing outside the folder is ever written.
        const auto link = readLink(parent->folder.get(), parent->name);
        if (!link) {
            return failRead(systemError(errno));
        }
        if (link->owner != ::geteuid()) {
            return failRead(FileProblem::ForeignLink);
        }
        const std::string target =
            relative.substr(0, relative.size() - parent->name.size()) + link->target;
        if (link->target.starts_with('/') || !splitRelative(target)) {
            return failRead(FileProblem::LinkNotFollowed);
        }
        path = target;
        const auto targetParent = openParent(target, "read");
        if (!targetParent) {
            return std::nullopt;
        }
        file = Descriptor(openEntry(targetParent->folder.get(), targetParent->name, O_RDONLY));
    }
    if (!file.valid()) {
        return failRead(errno == ELOOP ? make_error_code(FileProblem::LinkNotFollowed)
                                       : systemError(errno));
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        return failRead(systemError(errno));
    }
    if (!S_ISREG(status.st_mode)) {
        return failRead(FileProblem::NotRegularFile);
    }
    auto text = static_cast<std::uint64_t>(status.st_size) > maxBytes
                    ? (errno = EFBIG, std::nullopt)
                    : readAtMost(file.get(), maxBytes);
    if (!text) {
        return failRead(systemError(errno));
    }
    if (!QByteArrayView(text->data(), static_cast<qsizetype>(text->size())).isValidUtf8()) {
        return failRead(FileProblem::NotUtf8Text);
    }
    return TextFile{std::move(*text), std::move(path), itemInfoFrom(status)};
}

bool LocalServerFolder::writeFileAtomically(const std::string& relative, std::string_view contents,
                                            const ItemInfo& like) {
    const auto parent = openParent(relative, "write");
    if (!parent) {
        return false;
    }
    const int folder = parent->folder.get();
    // Made with owner-only permissions, so it is never more readable than the file it replaces;
    // the name a crash may leave is one the next copy knows to clear.
    std::string temporary;
    Descriptor file;
    for (int attempt = 0; attempt < 100 && !file.valid(); ++attempt) {
        // Pieces pushed one by one: GCC 12 reports a false -Wrestrict for joining a literal and
        // strings in one expression.
        temporary.assign(1, '.');
        temporary += parent->name;
        temporary += '.';
        temporary += randomSuffix();
        file = Descriptor(
            openEntry(folder, temporary, O_WRONLY | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR));
        if (!file.valid() && errno != EEXIST) {
            break;
        }
    }
    if (!file.valid()) {
        return failErrno("write", relative);
    }
    const auto discard = [&](int error) {
        ::unlinkat(folder, temporary.c_str(), 0);
        return fail("write", relative, systemError(error));
    };
    for (std::size_t written = 0; written < contents.size();) {
        const ssize_t put =
            ::write(file.get(), contents.data() + written, contents.size() - written);
        if (put == 0 || (put < 0 && errno != EINTR)) {
            return discard(put == 0 ? EIO : errno);
        }
        written += put > 0 ? static_cast<std::size_t>(put) : 0;
    }
    // The group before the bits, so that the bits apply to the group they were meant for; only
    // the superuser may give a file to another owner.
    const bool superuser = ::geteuid() == 0;
    auto mode = static_cast<mode_t>(like.permissions & 0777);
    if (::fchown(file.get(), superuser ? static_cast<uid_t>(like.owner) : static_cast<uid_t>(-1),
                 static_cast<gid_t>(like.group)) != 0) {
        if (superuser || errno != EPERM) {
            return discard(errno);
        }
        // Not a member of that group: the file stays in the user's own, whose members were
        // "others" to it, so its group bits give no more than the others' did.
        mode = (mode & ~mode_t{0070}) | (mode & ((mode & 0007) << 3));
    }
    if (::fchmod(file.get(), mode) != 0 || ::fsync(file.get()) != 0 || !file.close()) {
        return discard(errno);
    }
    // renameat() replaces whatever is at the name, a link included, without following it.
    if (::renameat(folder, temporary.c_str(), folder, parent->name.c_str()) != 0) {
        return discard(errno);
    }
    ::fsync(folder); // the new name itself on the disk
    return true;
}

} // namespace Plovermantle
