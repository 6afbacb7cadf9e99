// The line settings record onto the terminal interface. The settings are built
// from zero, not from whatever the device held before: raw mode, CLOCAL and
// CREAD, the record's character size, parity, stop bits and CTS flow control.
#ifndef VENDRA_PLATFORM_POSIX_LINESETTINGS_H
#define VENDRA_PLATFORM_POSIX_LINESETTINGS_H

#include <cstdint>
#include <optional>

#include "SerialRecords.h"

namespace platform::posix {

// The control flags of `settings` without the speed; empty for a character
// size, parity or stop-bit code the line cannot have.
std::optional<std::uint32_t> controlFlagsOf(const DCB& settings);

// False when the device answers no request for its line settings: a UART
// that Linux lists but that is not fitted (EIO), a node that is no terminal
// (ENOTTY).
bool lineSettingsReadable(int fd);

// The rate and CTS flow control that a terminal holds, as its far end (unit-sim
// on a pseudo-terminal) reads what the host set. The rate is 0 when the
// terminal holds one that this system cannot name as a number.
struct HeldLine {
    std::uint32_t rate = 0;
    bool ctsFlow = false;
};
std::optional<HeldLine> heldLine(int fd);

// Applies `settings` and reads them back. False when the device refuses them
// or holds anything else afterwards.
bool applyLineSettings(int fd, const DCB& settings);

}  // namespace platform::posix

#endif
