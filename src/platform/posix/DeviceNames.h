// The device that COM n stands for on a POSIX system, as a file name under
// the device directory: COM1 to COM32 are ttyS0 to ttyS31, as POSIX layers
// for Windows programs number them; USB and ACM adapters get ranges of their
// own. The adapter and unit-sim, which links a unit as a port, share it.
#ifndef VENDRA_PLATFORM_POSIX_DEVICENAMES_H
#define VENDRA_PLATFORM_POSIX_DEVICENAMES_H

#include <optional>
#include <string>

namespace platform::posix {

// Nothing for a number outside COM1 to COM96.
std::optional<std::string> deviceNameOfPort(int port);

}  // namespace platform::posix

#endif
