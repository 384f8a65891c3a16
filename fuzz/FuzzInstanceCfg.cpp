// Feeds arbitrary bytes to the instance.cfg reader: it must never crash, and whatever name it
// gives must keep the promises the menu relies on.
#include "settings/InstanceConfig.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view config(reinterpret_cast<const char*>(data), size);
    const auto name = Plovermantle::instanceNameFromConfig(config);
    if (name) {
        if (name->empty() || name->size() > Plovermantle::instanceNameLimit ||
            name->front() == ' ' || name->back() == ' ') {
            std::abort();
        }
        for (const char c : *name) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte == 0x7F) {
                std::abort();
            }
        }
    }
    return 0;
}
