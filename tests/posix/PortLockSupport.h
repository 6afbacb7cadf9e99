// The lock directory and console list of the test adapter, and what other
// programs leave there.
#ifndef VENDRA_TESTS_POSIX_PORTLOCKSUPPORT_H
#define VENDRA_TESTS_POSIX_PORTLOCKSUPPORT_H

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "DeviceDir.h"
#include "PosixTestSupport.h"

namespace posix_test {

inline std::filesystem::path lockDirectory() {
    return std::filesystem::path(platform::posix::kSerialLockDir);
}

inline std::filesystem::path lockFileOf(const std::string& deviceName) {
    return lockDirectory() / ("LCK.." + deviceName);
}

inline std::filesystem::path consoleList() {
    return std::filesystem::path(platform::posix::kSerialConsoleList);
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

inline void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    check(file.good(), "write a file");
}

// A lock file's text in HDB form: the pid in ten characters and a newline.
inline std::string hdbLock(pid_t pid) {
    char text[32];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}

// The pid of a process that has ended.
inline pid_t endedProcess() {
    const pid_t child = ::fork();
    check(child >= 0, "fork");
    if (child == 0) {
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

// An empty lock directory and no console list, before and after each test.
class CleanLockState {
  public:
    CleanLockState() { reset(); }
    CleanLockState(const CleanLockState&) = delete;
    CleanLockState& operator=(const CleanLockState&) = delete;
    ~CleanLockState() { reset(); }

  private:
    static void reset() {
        std::filesystem::remove_all(lockDirectory());
        std::filesystem::create_directories(lockDirectory());
        std::filesystem::remove(consoleList());
    }
};

}  // namespace posix_test

#endif
