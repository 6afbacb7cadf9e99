// POSIX systems without termios2: the rates that have a speed constant.
#include <termios.h>

#include <algorithm>
#include <array>

#include "LineSettings.h"

namespace platform::posix {
namespace {

struct BaudSpeed {
    std::uint32_t rate;
    speed_t speed;
};

constexpr auto kBaudSpeeds = std::to_array<BaudSpeed>({
    {50, B50},
    {75, B75},
    {110, B110},
    {134, B134},
    {150, B150},
    {200, B200},
    {300, B300},
    {600, B600},
    {1200, B1200},
    {1800, B1800},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
});

std::optional<speed_t> speedOfRate(std::uint32_t rate) {
    const auto* found = std::ranges::find(kBaudSpeeds, rate, &BaudSpeed::rate);
    if (found == kBaudSpeeds.end()) {
        return std::nullopt;
    }
    return found->speed;
}

std::uint32_t rateOfSpeed(speed_t speed) {
    const auto* found = std::ranges::find(kBaudSpeeds, speed, &BaudSpeed::speed);
    return found == kBaudSpeeds.end() ? 0 : found->rate;
}

constexpr tcflag_t kControlBits = CSIZE | PARENB | PARODD | CSTOPB | CLOCAL | CREAD | CRTSCTS;

bool sameSettings(const termios& applied, const termios& held) {
    return applied.c_iflag == held.c_iflag && applied.c_oflag == held.c_oflag &&
           applied.c_lflag == held.c_lflag &&
           (applied.c_cflag & kControlBits) == (held.c_cflag & kControlBits) &&
           ::cfgetispeed(&applied) == ::cfgetispeed(&held) &&
           ::cfgetospeed(&applied) == ::cfgetospeed(&held) &&
           applied.c_cc[VMIN] == held.c_cc[VMIN] && applied.c_cc[VTIME] == held.c_cc[VTIME];
}

}  // namespace

bool lineSettingsReadable(int fd) {
    termios held{};
    return ::tcgetattr(fd, &held) == 0;
}

std::optional<HeldLine> heldLine(int fd) {
    termios held{};
    if (::tcgetattr(fd, &held) != 0) {
        return std::nullopt;
    }
    return HeldLine{rateOfSpeed(::cfgetospeed(&held)), (held.c_cflag & CRTSCTS) != 0};
}

bool applyLineSettings(int fd, const DCB& settings) {
    const std::optional<std::uint32_t> controlFlags = controlFlagsOf(settings);
    const std::optional<speed_t> speed = speedOfRate(settings.BaudRate);
    if (!controlFlags || !speed) {
        return false;
    }
    termios applied{};
    applied.c_cflag = static_cast<tcflag_t>(*controlFlags);
    // One byte is enough for a read, so an empty queue reads as "try again"
    // and a hung-up line as end of file.
    applied.c_cc[VMIN] = 1;
    applied.c_cc[VTIME] = 0;
    termios held{};
    return ::cfsetispeed(&applied, *speed) == 0 && ::cfsetospeed(&applied, *speed) == 0 &&
           ::tcsetattr(fd, TCSANOW, &applied) == 0 && ::tcgetattr(fd, &held) == 0 &&
           sameSettings(applied, held);
}

}  // namespace platform::posix
