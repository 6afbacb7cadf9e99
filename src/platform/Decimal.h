// Strict decimal numbers as the programs and their tools read them: digits
// only, no sign, no blank, no leading zero, and within the number's type.
#ifndef VENDRA_PLATFORM_DECIMAL_H
#define VENDRA_PLATFORM_DECIMAL_H

#include <charconv>
#include <optional>
#include <string_view>
#include <system_error>

namespace platform {

template <typename Number>
std::optional<Number> strictDecimal(std::string_view text) {
    // from_chars alone would take a leading minus for a signed type.
    if (text.empty() || text.front() < '0' || text.front() > '9' ||
        (text.front() == '0' && text.size() > 1)) {
        return std::nullopt;
    }
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace platform

#endif
