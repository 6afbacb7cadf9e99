// The device path of COM n is "\\.\COM<n>"; every adapter reads the port
// number back from it the same way.
#ifndef VENDRA_PLATFORM_PORTPATH_H
#define VENDRA_PLATFORM_PORTPATH_H

#include <optional>
#include <string_view>

namespace platform {

inline constexpr std::string_view kComPathPrefix = "\\\\.\\COM";

// The n of "\\.\COM<n>": decimal digits only, no sign, no leading zero, and
// within int. Anything else names no port.
std::optional<int> comPortNumberFromPath(std::string_view path);

}  // namespace platform

#endif
