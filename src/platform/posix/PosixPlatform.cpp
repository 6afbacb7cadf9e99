// The platform on POSIX systems: serial devices through termios under the
// compiled-in device directory, the console through the C library.
#include <fcntl.h>
#include <poll.h>
#include <stdio_ext.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "DeviceDir.h"
#include "Platform.h"
#include "PortPath.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

struct DeviceRange {
    int firstPort;
    int lastPort;
    const char* deviceName;
};

// COM1 to COM32 as POSIX layers for Windows programs number them; USB and ACM
// adapters get fixed ranges of their own.
constexpr auto kDeviceRanges = std::to_array<DeviceRange>({
    {1, 32, "ttyS"},
    {33, 64, "ttyUSB"},
    {65, 96, "ttyACM"},
});

std::optional<std::string> devicePathOfPort(int port) {
    for (const DeviceRange& range : kDeviceRanges) {
        if (port >= range.firstPort && port <= range.lastPort) {
            std::string path(posix::kSerialDeviceDir);
            path += '/';
            path += range.deviceName;
            path += std::to_string(port - range.firstPort);
            return path;
        }
    }
    return std::nullopt;
}

struct BaudSpeed {
    std::uint32_t rate;
    speed_t speed;
};

constexpr auto kBaudSpeeds = std::to_array<BaudSpeed>({
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
});

std::optional<speed_t> speedOfRate(std::uint32_t rate) {
    const auto* found = std::ranges::find(kBaudSpeeds, rate, &BaudSpeed::rate);
    if (found == kBaudSpeeds.end()) {
        return std::nullopt;
    }
    return found->speed;
}

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

// Parity and stop-bit codes of the line-settings record.
constexpr std::uint8_t kOddParity = 1;
constexpr std::uint8_t kEvenParity = 2;
constexpr std::uint8_t kTwoStopBits = 2;

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

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&&) = delete;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }

  private:
    int fd_;
};

// An open device and the time-outs last applied to it. The descriptor stays
// non-blocking: reads and writes wait in poll, so nothing blocks for ever on a
// line without carrier.
struct SerialPort {
    FileDescriptor fd;
    COMMTIMEOUTS timeouts{};
};

// Handles are keys into this table, never descriptors: a stale or made-up
// handle names nothing, and descriptor 0 is no special case.
std::map<SerialHandle, SerialPort>& openPorts() {
    static std::map<SerialHandle, SerialPort> ports;
    return ports;
}

std::intptr_t lastHandleNumber = 0;

SerialPort* portOf(SerialHandle handle) {
    const auto found = openPorts().find(handle);
    return found == openPorts().end() ? nullptr : &found->second;
}

void assertModemLines(int fd, int lines) {
    // A device without modem lines (a pseudo-terminal) refuses this; like the
    // platform results the layer does not look at, the refusal changes nothing.
    static_cast<void>(::ioctl(fd, TIOCMBIS, &lines));
}

// True when `events` came or a signal cut the wait short: either way the
// caller tries again and looks at the clock itself.
bool waitFor(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, timeoutMs);
    return ready > 0 || (ready < 0 && errno == EINTR);
}

int millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// Longer than any read time-out in use; keeps the deadline and poll's
// millisecond count within range.
constexpr std::uint64_t kLongestReadMs = std::numeric_limits<int>::max();

std::chrono::milliseconds totalReadTimeout(const COMMTIMEOUTS& timeouts, std::uint32_t count) {
    const std::uint64_t total = std::uint64_t{timeouts.ReadTotalTimeoutMultiplier} * count +
                                timeouts.ReadTotalTimeoutConstant;
    return std::chrono::milliseconds(std::min(total, kLongestReadMs));
}

bool stdinIsTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

}  // namespace

SerialHandle serialOpen(const char* devicePath) {
    const std::optional<int> port = comPortNumberFromPath(devicePath);
    if (!port) {
        return kInvalidSerialHandle;
    }
    const std::optional<std::string> path = devicePathOfPort(*port);
    if (!path) {
        return kInvalidSerialHandle;
    }
    FileDescriptor fd(::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        return kInvalidSerialHandle;
    }
    // Programs that lock the device before use see it as in use, and so does
    // a second open from this program.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        return kInvalidSerialHandle;
    }
    ::tcflush(fd.get(), TCIOFLUSH);
    const SerialHandle handle{++lastHandleNumber};
    openPorts().emplace(handle, SerialPort{std::move(fd)});
    return handle;
}

bool serialClose(SerialHandle handle) {
    return openPorts().erase(handle) == 1;
}

bool serialSetupQueues(SerialHandle handle, std::uint32_t, std::uint32_t) {
    // The tty driver's queues have a fixed size.
    return portOf(handle) != nullptr;
}

bool serialSetTimeouts(SerialHandle handle, const COMMTIMEOUTS& timeouts) {
    SerialPort* port = portOf(handle);
    if (port == nullptr) {
        return false;
    }
    port->timeouts = timeouts;
    return true;
}

bool serialSetState(SerialHandle handle, const DCB& settings) {
    SerialPort* port = portOf(handle);
    if (port == nullptr) {
        return false;
    }
    const std::optional<speed_t> speed = speedOfRate(settings.BaudRate);
    const std::optional<tcflag_t> characterSize = characterSizeOf(settings.ByteSize);
    const std::optional<tcflag_t> parity = parityFlagsOf(settings.Parity);
    const std::optional<tcflag_t> stopBits = stopBitFlagsOf(settings.StopBits);
    if (!speed || !characterSize || !parity || !stopBits) {
        return false;
    }
    termios attributes{};
    if (::tcgetattr(port->fd.get(), &attributes) != 0) {
        return false;
    }
    ::cfmakeraw(&attributes);
    attributes.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    attributes.c_cflag |= CLOCAL | CREAD | *characterSize | *parity | *stopBits;
    if (settings.fOutxCtsFlow != 0) {
        attributes.c_cflag |= CRTSCTS;
    }
    // One byte is enough for a read, so an empty queue reads as "try again"
    // and a hung-up line as end of file.
    attributes.c_cc[VMIN] = 1;
    attributes.c_cc[VTIME] = 0;
    if (::cfsetispeed(&attributes, *speed) != 0 || ::cfsetospeed(&attributes, *speed) != 0 ||
        ::tcsetattr(port->fd.get(), TCSANOW, &attributes) != 0) {
        return false;
    }
    int lines = 0;
    if (settings.fDtrControl == DTR_CONTROL_ENABLE) {
        lines |= TIOCM_DTR;
    }
    if (settings.fRtsControl == RTS_CONTROL_ENABLE) {
        lines |= TIOCM_RTS;
    }
    if (lines != 0) {
        assertModemLines(port->fd.get(), lines);
    }
    return true;
}

bool serialPurge(SerialHandle handle, std::uint32_t flags) {
    SerialPort* port = portOf(handle);
    if (port == nullptr) {
        return false;
    }
    const bool input = (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) != 0;
    const bool output = (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) != 0;
    if (!input && !output) {
        return true;
    }
    const int queues = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
    return ::tcflush(port->fd.get(), queues) == 0;
}

bool serialEscape(SerialHandle handle, std::uint32_t function) {
    SerialPort* port = portOf(handle);
    if (port == nullptr || function != SETDTR) {
        return false;
    }
    int lines = TIOCM_DTR;
    return ::ioctl(port->fd.get(), TIOCMBIS, &lines) == 0;
}

bool serialRead(SerialHandle handle, void* buffer, std::uint32_t count, std::uint32_t* bytesRead) {
    *bytesRead = 0;
    SerialPort* port = portOf(handle);
    if (port == nullptr) {
        return false;
    }
    const Clock::time_point deadline = Clock::now() + totalReadTimeout(port->timeouts, count);
    auto* destination = static_cast<unsigned char*>(buffer);
    while (*bytesRead < count) {
        const ssize_t received =
            ::read(port->fd.get(), destination + *bytesRead, count - *bytesRead);
        if (received > 0) {
            *bytesRead += static_cast<std::uint32_t>(received);
            continue;
        }
        if (received == 0 || (errno != EAGAIN && errno != EINTR)) {
            return false;
        }
        const int waitMs = millisecondsUntil(deadline);
        if (waitMs == 0 || !waitFor(port->fd.get(), POLLIN, waitMs)) {
            break;
        }
    }
    return true;
}

bool serialWrite(SerialHandle handle, const void* buffer, std::uint32_t count,
                 std::uint32_t* bytesWritten) {
    *bytesWritten = 0;
    SerialPort* port = portOf(handle);
    if (port == nullptr) {
        return false;
    }
    const auto* source = static_cast<const unsigned char*>(buffer);
    while (*bytesWritten < count) {
        const ssize_t sent = ::write(port->fd.get(), source + *bytesWritten, count - *bytesWritten);
        if (sent > 0) {
            *bytesWritten += static_cast<std::uint32_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent == 0 || errno != EAGAIN || !waitFor(port->fd.get(), POLLOUT, -1)) {
            return false;
        }
    }
    return true;
}

void sleepMs(std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void consoleSetUp() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}

namespace {
ConsoleStream gConsoleStream = ConsoleStream::Output;
}  // namespace

void consoleSelectStream(ConsoleStream stream) {
    gConsoleStream = stream;
}

// Standard error is unbuffered from the start.
void consoleWrite(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(),
                gConsoleStream == ConsoleStream::Error ? stderr : stdout);
}

bool consoleReadInt(int& value) {
    return std::scanf("%d", &value) == 1;
}

void consoleWaitKey() {
    if (!stdinIsTerminal()) {
        static_cast<void>(std::getchar());
        return;
    }
    termios saved{};
    if (::tcgetattr(STDIN_FILENO, &saved) != 0) {
        return;
    }
    termios keyMode = saved;
    keyMode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    keyMode.c_cc[VMIN] = 1;
    keyMode.c_cc[VTIME] = 0;
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &keyMode) == 0) {
        // The key comes from the terminal itself, past anything the C library
        // holds from earlier lines.
        char key = 0;
        while (::read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
        }
    }
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

void consoleDiscardInput() {
    ::__fpurge(stdin);
    if (stdinIsTerminal()) {
        ::tcflush(STDIN_FILENO, TCIFLUSH);
    }
}

}  // namespace platform
