#include "platform/Paths.h"

namespace Plovermantle {

std::string joinPath(const std::string& base, const std::string& relative) {
    if (relative.empty()) {
        return base;
    }
    if (base.empty() || base.back() == '/') {
        return base + relative;
    }
    return base + '/' + relative;
}

} // namespace Plovermantle
