// The one launcher of unit-sim for the C++ tests: one unit served as COM
// `port`, linked under a device directory, until stop() or the end of the
// scope. Its report goes to a scratch directory of its own. POSIX only.
#ifndef VENDRA_TESTS_SUPPORT_UNITSIMPROCESS_H
#define VENDRA_TESTS_SUPPORT_UNITSIMPROCESS_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "ScratchDirectory.h"

extern char** environ;

namespace test_support {

// Starts `argv` with standard input and output on the given descriptors
// (-1: inherited). Throws when it cannot start.
inline pid_t spawnProcess(std::vector<std::string> argv, int input, int output) {
    std::vector<char*> pointers;
    for (std::string& arg : argv) {
        pointers.push_back(arg.data());
    }
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input >= 0) {
        posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    }
    if (output >= 0) {
        posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    }
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        throw std::runtime_error("posix_spawn " + argv.front());
    }
    return pid;
}

class UnitSimProcess {
  public:
    static constexpr int kStartWaitMs = 5000;

    UnitSimProcess(const std::filesystem::path& deviceDir, int port,
                   const std::vector<std::string>& options) {
        std::filesystem::create_directories(deviceDir);
        std::vector<std::string> argv{
            UNIT_SIM_PATH,        "--dir",    deviceDir.string(), "--port",
            std::to_string(port), "--report", report().string()};
        argv.insert(argv.end(), options.begin(), options.end());
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe");
        }
        pid_ = spawnProcess(argv, -1, ends[1]);
        ::close(ends[1]);
        pollfd watched{ends[0], POLLIN, 0};
        char line[512] = {};
        const bool ready = ::poll(&watched, 1, kStartWaitMs) == 1 &&
                           ::read(ends[0], line, sizeof line - 1) > 0 &&
                           std::string_view(line).starts_with("ready ");
        ::close(ends[0]);
        if (!ready) {
            stop();
            throw std::runtime_error("unit-sim did not report its link");
        }
    }
    UnitSimProcess(const UnitSimProcess&) = delete;
    UnitSimProcess& operator=(const UnitSimProcess&) = delete;
    ~UnitSimProcess() { stop(); }

    // Ends unit-sim as a test harness would (it removes its link then);
    // returns its report.
    std::string stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
            exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            pid_ = 0;
        }
        return readWholeFile(report());
    }
    // After stop(): the exit status, -1 when it did not exit by itself.
    int exitStatus() const { return exitStatus_; }

  private:
    std::filesystem::path report() const { return scratch_ / "report.txt"; }

    ScratchDirectory scratch_;
    pid_t pid_ = 0;
    int exitStatus_ = -1;
};

}  // namespace test_support

#endif
