#ifndef VENDRA_PLATFORM_POSIX_DEVICEDIR_H
#define VENDRA_PLATFORM_POSIX_DEVICEDIR_H

#include <string_view>

namespace platform::posix {

// Paths fixed when the adapter is built.
// The directory that COM n maps into.
extern const std::string_view kSerialDeviceDir;
// The file that names the system console's devices, separated by white space.
extern const std::string_view kSerialConsoleList;
// Where UUCP lock files LCK..NAME are honoured and written.
extern const std::string_view kSerialLockDir;

}  // namespace platform::posix

#endif
