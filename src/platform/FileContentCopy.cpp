#include "platform/FileContentCopy.h"

#include <cerrno>
#include <unistd.h>
#include <vector>

namespace Plovermantle {

bool copyFileContents(int inFd, int outFd, const ContentProgress& progress) {
    std::vector<char> buffer(std::size_t{1} << 20);
    for (;;) {
        const ssize_t got = ::read(inFd, buffer.data(), buffer.size());
        if (got == 0) {
            return true;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        std::size_t written = 0;
        while (written < static_cast<std::size_t>(got)) {
            const ssize_t put =
                ::write(outFd, buffer.data() + written, static_cast<std::size_t>(got) - written);
            if (put < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            written += static_cast<std::size_t>(put);
        }
        if (progress && !progress(static_cast<std::uint64_t>(got))) {
            errno = ECANCELED;
            return false;
        }
    }
}

} // namespace Plovermantle
