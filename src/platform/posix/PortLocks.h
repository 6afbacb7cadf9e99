// What tells a line that belongs to someone else before the program opens it:
// the system console and UUCP lock files. Opening a real line raises its DTR,
// so both are looked at first.
#ifndef VENDRA_PLATFORM_POSIX_PORTLOCKS_H
#define VENDRA_PLATFORM_POSIX_PORTLOCKS_H

#include <optional>
#include <string>

namespace platform::posix {

// True when `devicePath`, symlinks resolved, is /dev/NAME for a NAME that the
// console list names.
bool isSystemConsole(const std::string& devicePath);

// The UUCP lock file LCK..NAME in the lock directory, in HDB form (the pid in
// ten characters, right-aligned, and a newline), removed when the object goes.
class UucpLock {
  public:
    // Takes the lock of the device file `deviceName`. Empty when a live
    // process holds it. A lock whose pid names no live process is taken over;
    // a lock directory the program may not write to gives a lock without a
    // file.
    static std::optional<UucpLock> acquire(const std::string& deviceName);

    UucpLock(UucpLock&& other) noexcept;
    UucpLock& operator=(UucpLock&&) = delete;
    UucpLock(const UucpLock&) = delete;
    UucpLock& operator=(const UucpLock&) = delete;
    ~UucpLock();

  private:
    explicit UucpLock(std::string path) : path_(std::move(path)) {}

    // Empty when no file was written.
    std::string path_;
};

}  // namespace platform::posix

#endif
