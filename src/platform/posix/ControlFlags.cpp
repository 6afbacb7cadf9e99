#include <termios.h>

#include "LineSettings.h"

namespace platform::posix {
namespace {

// Parity and stop-bit codes of the line-settings record.
constexpr std::uint8_t kOddParity = 1;
constexpr std::uint8_t kEvenParity = 2;
constexpr std::uint8_t kTwoStopBits = 2;

std::optional<tcflag_t> characterSizeOf(std::uint8_t byteSize) {
    switch (byteSize) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        case 8:
            return CS8;
        default:
            return std::nullopt;
    }
}

std::optional<tcflag_t> parityFlagsOf(std::uint8_t parity) {
    switch (parity) {
        case NOPARITY:
            return tcflag_t{0};
        case kOddParity:
            return tcflag_t{PARENB | PARODD};
        case kEvenParity:
            return tcflag_t{PARENB};
        default:
            return std::nullopt;
    }
}

std::optional<tcflag_t> stopBitFlagsOf(std::uint8_t stopBits) {
    switch (stopBits) {
        case ONESTOPBIT:
            return tcflag_t{0};
        case kTwoStopBits:
            return tcflag_t{CSTOPB};
        default:
            return std::nullopt;
    }
}

}  // namespace

std::optional<std::uint32_t> controlFlagsOf(const DCB& settings) {
    const std::optional<tcflag_t> characterSize = characterSizeOf(settings.ByteSize);
    const std::optional<tcflag_t> parity = parityFlagsOf(settings.Parity);
    const std::optional<tcflag_t> stopBits = stopBitFlagsOf(settings.StopBits);
    if (!characterSize || !parity || !stopBits) {
        return std::nullopt;
    }
    tcflag_t flags = CLOCAL | CREAD | *characterSize | *parity | *stopBits;
    if (settings.fOutxCtsFlow != 0) {
        flags |= CRTSCTS;
    }
    return static_cast<std::uint32_t>(flags);
}

}  // namespace platform::posix
