// The rates a terminal line holds, read with TCGETS2: exact also for rates
// that have no speed constant. A file of its own, because the kernel's
// termios2 header and the C library's termios.h do not go together.
#ifndef VENDRA_TESTS_POSIX_LINERATES_H
#define VENDRA_TESTS_POSIX_LINERATES_H

#include <cstdint>
#include <optional>

namespace posix_test {

struct LineRates {
    std::uint32_t input;
    std::uint32_t output;
    bool operator==(const LineRates&) const = default;
};

// For a pseudo-terminal's master, the rates of its slave side.
std::optional<LineRates> lineRatesOf(int fd);

}  // namespace posix_test

#endif
