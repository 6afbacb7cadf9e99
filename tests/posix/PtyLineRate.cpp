// Kept apart from <termios.h>: the kernel's termios2, which holds the rate
// as a number, clashes with the C library's termios.
#include "PtyLineRate.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <stdexcept>

namespace posix_test {

std::uint32_t outputRate(const std::string& slavePath) {
    const int slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave < 0) {
        throw std::runtime_error("open the slave side");
    }
    termios2 attributes{};
    const int result = ::ioctl(slave, TCGETS2, &attributes);
    ::close(slave);
    if (result != 0) {
        throw std::runtime_error("TCGETS2");
    }
    return attributes.c_ospeed;
}

}  // namespace posix_test
