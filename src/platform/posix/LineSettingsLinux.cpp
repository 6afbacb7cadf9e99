// Linux: termios2 with BOTHER sets any positive rate exactly, as a Windows
// driver takes 14400, 56000 or 128000.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <array>
#include <limits>

#include "LineSettings.h"

namespace platform::posix {
namespace {

// The speed bits of both directions: a driver may report an exact BOTHER
// request as the matching Bnnn code, so the rates are compared as numbers.
constexpr tcflag_t kSpeedBits = CBAUD | CIBAUD;

// Rates the record carries as unsigned that were negative numbers, and 0,
// which would hang the line up.
bool isLineRate(std::uint32_t rate) {
    return rate > 0 && rate <= static_cast<std::uint32_t>(std::numeric_limits<int>::max());
}

struct SpeedCode {
    std::uint32_t rate;
    tcflag_t code;
};

// A rate that has a speed constant is set with it, so that programs which
// know only the constants read the line's rate back.
constexpr auto kSpeedCodes = std::to_array<SpeedCode>({
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
});

tcflag_t speedCodeOf(std::uint32_t rate) {
    const auto* found = std::ranges::find(kSpeedCodes, rate, &SpeedCode::rate);
    return found == kSpeedCodes.end() ? tcflag_t{BOTHER} : found->code;
}

bool sameSettings(const termios2& applied, const termios2& held) {
    return applied.c_iflag == held.c_iflag && applied.c_oflag == held.c_oflag &&
           applied.c_lflag == held.c_lflag &&
           (applied.c_cflag & ~kSpeedBits) == (held.c_cflag & ~kSpeedBits) &&
           applied.c_ispeed == held.c_ispeed && applied.c_ospeed == held.c_ospeed &&
           applied.c_cc[VMIN] == held.c_cc[VMIN] && applied.c_cc[VTIME] == held.c_cc[VTIME];
}

}  // namespace

bool lineSettingsReadable(int fd) {
    termios2 held{};
    return ::ioctl(fd, TCGETS2, &held) == 0;
}

std::optional<HeldLine> heldLine(int fd) {
    termios2 held{};
    if (::ioctl(fd, TCGETS2, &held) != 0) {
        return std::nullopt;
    }
    return HeldLine{held.c_ospeed, (held.c_cflag & CRTSCTS) != 0};
}

bool applyLineSettings(int fd, const DCB& settings) {
    const std::optional<std::uint32_t> controlFlags = controlFlagsOf(settings);
    if (!controlFlags || !isLineRate(settings.BaudRate)) {
        return false;
    }
    termios2 applied{};
    const tcflag_t speedCode = speedCodeOf(settings.BaudRate);
    applied.c_cflag = *controlFlags | speedCode | (speedCode << IBSHIFT);
    applied.c_ispeed = settings.BaudRate;
    applied.c_ospeed = settings.BaudRate;
    // One byte is enough for a read, so an empty queue reads as "try again"
    // and a hung-up line as end of file.
    applied.c_cc[VMIN] = 1;
    applied.c_cc[VTIME] = 0;
    termios2 held{};
    return ::ioctl(fd, TCSETS2, &applied) == 0 && ::ioctl(fd, TCGETS2, &held) == 0 &&
           sameSettings(applied, held);
}

}  // namespace platform::posix
