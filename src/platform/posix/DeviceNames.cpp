#include "DeviceNames.h"

#include <array>
#include <string_view>

namespace platform::posix {
namespace {

struct DeviceRange {
    int firstPort;
    int lastPort;
    std::string_view deviceName;
};

constexpr auto kDeviceRanges = std::to_array<DeviceRange>({
    {1, 32, "ttyS"},
    {33, 64, "ttyUSB"},
    {65, 96, "ttyACM"},
});

}  // namespace

std::optional<std::string> deviceNameOfPort(int port) {
    for (const DeviceRange& range : kDeviceRanges) {
        if (port >= range.firstPort && port <= range.lastPort) {
            return std::string(range.deviceName) + std::to_string(port - range.firstPort);
        }
    }
    return std::nullopt;
}

}  // namespace platform::posix
