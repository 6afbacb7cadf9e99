#ifndef VENDRA_PLATFORM_POSIX_DEVICEDIR_H
#define VENDRA_PLATFORM_POSIX_DEVICEDIR_H

#include <string_view>

namespace platform::posix {

// The directory that COM n maps into, fixed when the adapter is built.
extern const std::string_view kSerialDeviceDir;

}  // namespace platform::posix

#endif
