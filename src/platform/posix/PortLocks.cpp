#include "PortLocks.h"

#include <fcntl.h>
#include <signal.h>  // NOLINT(modernize-deprecated-headers): kill() is POSIX
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <string_view>
#include <utility>

#include "DeviceDir.h"

namespace platform::posix {
namespace {

constexpr std::string_view kDevicePrefix = "/dev/";
constexpr std::string_view kLockPrefix = "LCK..";
// Longer than any HDB lock file: ten digits and a newline.
constexpr std::size_t kLockReadLimit = 64;
constexpr mode_t kLockFileMode = 0644;

std::string resolvedPath(const std::string& path) {
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                               &std::free);
    return resolved ? std::string(resolved.get()) : std::string();
}

std::string lockPathOf(const std::string& deviceName) {
    std::string path(kSerialLockDir);
    path += '/';
    path += kLockPrefix;
    path += deviceName;
    return path;
}

std::string hdbContent() {
    constexpr std::size_t kPidWidth = 10;
    const std::string pid = std::to_string(::getpid());
    return std::string(kPidWidth - std::min(pid.size(), kPidWidth), ' ') + pid + '\n';
}

bool processIsAlive(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// A lock file that cannot be read is honoured; one without a pid is stale.
bool heldByLiveProcess(const std::string& lockPath) {
    const int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return errno != ENOENT;
    }
    std::array<char, kLockReadLimit> text{};
    const ssize_t length = ::read(fd, text.data(), text.size() - 1);
    ::close(fd);
    if (length < 0) {
        return true;
    }
    char* end = nullptr;
    const long pid = std::strtol(text.data(), &end, 10);
    return end != text.data() && pid <= std::numeric_limits<pid_t>::max() &&
           processIsAlive(static_cast<pid_t>(pid));
}

enum class Creation { Created, Exists, NotWritable };

// The whole content goes into a file of its own first, and the link gives it
// the lock's name: no one ever reads a lock file half written.
Creation createLockFile(const std::string& lockPath, const std::string& content) {
    std::string temporary(kSerialLockDir);
    temporary += "/LTMP.XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        return Creation::NotWritable;
    }
    const bool written =
        ::fchmod(fd, kLockFileMode) == 0 &&
        ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    ::close(fd);
    Creation result = Creation::NotWritable;
    if (written) {
        if (::link(temporary.c_str(), lockPath.c_str()) == 0) {
            result = Creation::Created;
        } else if (errno == EEXIST) {
            result = Creation::Exists;
        }
    }
    ::unlink(temporary.c_str());
    return result;
}

}  // namespace

bool isSystemConsole(const std::string& devicePath) {
    const std::string resolved = resolvedPath(devicePath);
    if (!resolved.starts_with(kDevicePrefix)) {
        return false;
    }
    const std::string_view name = std::string_view(resolved).substr(kDevicePrefix.size());
    std::ifstream list{std::string(kSerialConsoleList)};
    std::string listed;
    while (list >> listed) {
        if (listed == name) {
            return true;
        }
    }
    return false;
}

std::optional<UucpLock> UucpLock::acquire(const std::string& deviceName) {
    const std::string lockPath = lockPathOf(deviceName);
    const std::string content = hdbContent();
    // A second round after a stale lock went; losing that too means someone
    // else took the line meanwhile.
    for (int round = 0; round < 2; ++round) {
        switch (createLockFile(lockPath, content)) {
            case Creation::Created:
                return UucpLock(lockPath);
            case Creation::NotWritable:
                if (heldByLiveProcess(lockPath)) {
                    return std::nullopt;
                }
                return UucpLock(std::string());
            case Creation::Exists:
                if (heldByLiveProcess(lockPath)) {
                    return std::nullopt;
                }
                ::unlink(lockPath.c_str());
                break;
        }
    }
    return std::nullopt;
}

UucpLock::UucpLock(UucpLock&& other) noexcept : path_(std::exchange(other.path_, {})) {}

UucpLock::~UucpLock() {
    if (!path_.empty()) {
        ::unlink(path_.c_str());
    }
}

}  // namespace platform::posix
