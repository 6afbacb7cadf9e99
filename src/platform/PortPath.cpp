#include "PortPath.h"

#include <charconv>

namespace platform {

std::optional<int> comPortNumberFromPath(std::string_view path) {
    if (!path.starts_with(kComPathPrefix)) {
        return std::nullopt;
    }
    const std::string_view digits = path.substr(kComPathPrefix.size());
    if (digits.empty() || digits.front() < '0' || digits.front() > '9' ||
        (digits.front() == '0' && digits.size() > 1)) {
        return std::nullopt;
    }
    int number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc{} || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return number;
}

}  // namespace platform
