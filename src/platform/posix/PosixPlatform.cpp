// The platform on POSIX systems: serial devices through termios under the
// compiled-in device directory; the console through the C library
// (StdioConsole.cpp) with the terminal for the key.
#include <fcntl.h>
#include <poll.h>
#include <stdio_ext.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "DeviceDir.h"
#include "DeviceNames.h"
#include "LineSettings.h"
#include "Platform.h"
#include "PortLocks.h"
#include "PortPath.h"
#include "TerminalKey.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

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

// An open device, its lock file and the time-outs last applied to it. The
// descriptor stays non-blocking: reads and writes wait in poll, so nothing
// blocks for ever on a line without carrier.
struct SerialPort {
    SerialPort(posix::UucpLock&& uucpLock, FileDescriptor&& device)
        : lock(std::move(uucpLock)), fd(std::move(device)) {}
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;
    // A pseudo-terminal whose far end stays open would keep the flag, and the
    // port is opened again for every probed rate. The descriptor closes
    // next, which ends the flock, and the lock file goes last.
    ~SerialPort() { ::ioctl(fd.get(), TIOCNXCL); }

    posix::UucpLock lock;
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

// Waits until every written byte has left the machine, as a synchronous
// Windows write does.
bool drain(int fd) {
    int result = 0;
    while ((result = ::tcdrain(fd)) != 0 && errno == EINTR) {
    }
    return result == 0;
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
    const std::optional<std::string> name = posix::deviceNameOfPort(*port);
    if (!name) {
        return kInvalidSerialHandle;
    }
    const std::string path = std::string(posix::kSerialDeviceDir) + '/' + *name;
    if (posix::isSystemConsole(path)) {
        return kInvalidSerialHandle;
    }
    std::optional<posix::UucpLock> lock = posix::UucpLock::acquire(*name);
    if (!lock) {
        return kInvalidSerialHandle;
    }
    FileDescriptor fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    // Another open description's flock marks a line in use even for root,
    // whom TIOCEXCL does not stop.
    if (fd.get() < 0 || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 ||
        !posix::lineSettingsReadable(fd.get())) {
        return kInvalidSerialHandle;
    }
    static_cast<void>(::ioctl(fd.get(), TIOCEXCL));
    // Bytes from before the open go, as at a Windows open; a terminal whose
    // settings could be read takes the flush, and the layer purges once more
    // after setting the line up.
    static_cast<void>(::tcflush(fd.get(), TCIOFLUSH));
    const SerialHandle handle{++lastHandleNumber};
    openPorts().try_emplace(handle, std::move(*lock), std::move(fd));
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
    if (port == nullptr || !posix::applyLineSettings(port->fd.get(), settings)) {
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
    return drain(port->fd.get());
}

void sleepMs(std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// A console write that fails (a pipe whose reader has gone) is no reason to
// stop: SIGPIPE would end the program halfway through an upload. Neither call
// fails for these arguments, and a console left buffered would still show
// everything, only later.
void consoleSetUp() {
    static_cast<void>(std::setvbuf(stdout, nullptr, _IONBF, 0));
    static_cast<void>(std::signal(SIGPIPE, SIG_IGN));
}

void consoleWaitKey() {
    static_cast<void>(posix::readKey());
}

void consoleDiscardInput() {
    ::__fpurge(stdin);
    // Typed-ahead keys that stay are only read as answers nobody is asked for.
    if (stdinIsTerminal()) {
        static_cast<void>(::tcflush(STDIN_FILENO, TCIFLUSH));
    }
}

std::FILE* fileCreateNew(const char* path) {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        ::unlink(path);
        errno = error;
    }
    return file;
}

bool fileReplace(const char* from, const char* to) {
    return std::rename(from, to) == 0;
}

}  // namespace platform
