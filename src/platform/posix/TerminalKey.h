// The final key press read from standard input, for the POSIX adapter and
// for VendraFwUpgrade-sim, whose operator is the same terminal.
#ifndef VENDRA_PLATFORM_POSIX_TERMINALKEY_H
#define VENDRA_PLATFORM_POSIX_TERMINALKEY_H

#include <optional>

namespace platform::posix {

// One key without echo from a terminal, taken from the terminal itself past
// anything the C library holds from earlier lines; otherwise one character
// through the C library. Nothing at the end of input, or when the terminal
// refuses key mode.
std::optional<char> readKey();

}  // namespace platform::posix

#endif
