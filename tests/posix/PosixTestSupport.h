// Pseudo-terminals linked as serial devices under the test adapter's device
// directory, and capture of standard output.
#ifndef VENDRA_TESTS_POSIX_POSIXTESTSUPPORT_H
#define VENDRA_TESTS_POSIX_POSIXTESTSUPPORT_H

#include <fcntl.h>
#include <poll.h>
#include <stdio_ext.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include "DeviceDir.h"

namespace posix_test {

inline void check(bool condition, const char* what) {
    if (!condition) {
        throw std::runtime_error(what);
    }
}

// A descriptor closed at the end of its scope.
class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }

  private:
    int fd_;
};

// Everything that arrives on `fd` until it stays silent for `quietMs`.
inline std::string readUntilQuiet(int fd, int quietMs = 100) {
    std::string received;
    pollfd entry{fd, POLLIN, 0};
    while (::poll(&entry, 1, quietMs) > 0 && (entry.revents & POLLIN) != 0) {
        char chunk[256];
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count <= 0) {
            break;
        }
        received.append(chunk, static_cast<std::size_t>(count));
    }
    return received;
}

inline void writeAll(int fd, std::string_view bytes) {
    check(::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()),
          "write to a pseudo-terminal");
}

// The test's end of a pseudo-terminal: the master side stands for the unit,
// the slave side is what the program opens as a serial device.
class PseudoTerminal {
  public:
    PseudoTerminal() : master_(::posix_openpt(O_RDWR | O_NOCTTY)) {
        check(master_.get() >= 0, "posix_openpt");
        check(::grantpt(master_.get()) == 0 && ::unlockpt(master_.get()) == 0, "unlockpt");
        slavePath_ = ::ptsname(master_.get());
    }
    int master() const { return master_.get(); }
    const std::string& slavePath() const { return slavePath_; }

    // The line settings as anyone else on the slave side sees them.
    termios farSide() const {
        const Fd slave(::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
        check(slave.get() >= 0, "open the slave side");
        termios attributes{};
        check(::tcgetattr(slave.get(), &attributes) == 0, "tcgetattr");
        return attributes;
    }

    // Changes the slave's settings behind the program's back, to tell a
    // setting the program applies from one left over.
    void setFarSide(speed_t speed, bool ctsFlow) const {
        const Fd slave(::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
        check(slave.get() >= 0, "open the slave side");
        termios attributes{};
        check(::tcgetattr(slave.get(), &attributes) == 0, "tcgetattr");
        check(::cfsetspeed(&attributes, speed) == 0, "cfsetspeed");
        if (ctsFlow) {
            attributes.c_cflag |= CRTSCTS;
        } else {
            attributes.c_cflag &= ~CRTSCTS;
        }
        check(::tcsetattr(slave.get(), TCSANOW, &attributes) == 0, "tcsetattr");
    }

  private:
    Fd master_;
    std::string slavePath_;
};

inline std::filesystem::path deviceDirectory() {
    return std::filesystem::path(platform::posix::kSerialDeviceDir);
}

// A symlink `name` in the device directory to `target`, removed again at the
// end of its scope.
class DeviceLink {
  public:
    DeviceLink(const std::string& name, const std::filesystem::path& target)
        : link_(deviceDirectory() / name) {
        std::filesystem::create_directories(deviceDirectory());
        std::filesystem::remove(link_);
        std::filesystem::create_symlink(target, link_);
    }
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;
    ~DeviceLink() {
        std::error_code ignored;
        std::filesystem::remove(link_, ignored);
    }

  private:
    std::filesystem::path link_;
};

// Standard output redirected into a pipe until finish().
class StdoutCapture {
  public:
    StdoutCapture() {
        std::fflush(stdout);
        int ends[2];
        check(::pipe(ends) == 0, "pipe");
        readEnd_ = ends[0];
        saved_ = ::dup(STDOUT_FILENO);
        ::dup2(ends[1], STDOUT_FILENO);
        ::close(ends[1]);
    }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    ~StdoutCapture() { restore(); }

    std::string finish() {
        restore();
        std::string captured;
        char chunk[256];
        ssize_t count = 0;
        while ((count = ::read(readEnd_, chunk, sizeof chunk)) > 0) {
            captured.append(chunk, static_cast<std::size_t>(count));
        }
        ::close(readEnd_);
        readEnd_ = -1;
        return captured;
    }

  private:
    void restore() {
        if (saved_ >= 0) {
            std::fflush(stdout);
            ::dup2(saved_, STDOUT_FILENO);
            ::close(saved_);
            saved_ = -1;
        }
    }

    int readEnd_ = -1;
    int saved_ = -1;
};

// Standard input taken from `fd` until the end of the scope.
class StdinFrom {
  public:
    explicit StdinFrom(int fd) : saved_(::dup(STDIN_FILENO)) {
        std::clearerr(stdin);
        ::dup2(fd, STDIN_FILENO);
    }
    StdinFrom(const StdinFrom&) = delete;
    StdinFrom& operator=(const StdinFrom&) = delete;
    ~StdinFrom() {
        ::dup2(saved_, STDIN_FILENO);
        ::close(saved_);
        ::__fpurge(stdin);
        std::clearerr(stdin);
    }

  private:
    int saved_;
};

inline std::chrono::milliseconds elapsedSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start);
}

}  // namespace posix_test

#endif
