// The device path of COM n is "\\.\COM<n>": built here for every caller, and
// read back the same way by every adapter.
#ifndef VENDRA_PLATFORM_PORTPATH_H
#define VENDRA_PLATFORM_PORTPATH_H

#include <optional>
#include <string>
#include <string_view>

#include "Decimal.h"

namespace platform {

inline constexpr std::string_view kComPathPrefix = "\\\\.\\COM";

inline std::string comPortPath(int port) {
    return std::string(kComPathPrefix) + std::to_string(port);
}

// The n of "\\.\COM<n>": decimal digits only, no sign, no leading zero, and
// within int. Anything else names no port.
inline std::optional<int> comPortNumberFromPath(std::string_view path) {
    if (!path.starts_with(kComPathPrefix)) {
        return std::nullopt;
    }
    return strictDecimal<int>(path.substr(kComPathPrefix.size()));
}

}  // namespace platform

#endif
