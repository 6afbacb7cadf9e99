#include "LineRates.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace posix_test {

std::optional<LineRates> lineRatesOf(int fd) {
    termios2 line{};
    if (::ioctl(fd, TCGETS2, &line) != 0) {
        return std::nullopt;
    }
    return LineRates{line.c_ispeed, line.c_ospeed};
}

}  // namespace posix_test
