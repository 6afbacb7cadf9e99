// unit-sim serving a port under the test device directory, and a program run
// with its standard output captured, for tests in real time.
#ifndef VENDRA_TESTS_POSIX_UNITSIMPROCESS_H
#define VENDRA_TESTS_POSIX_UNITSIMPROCESS_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "PosixTestSupport.h"

extern char** environ;

namespace posix_test {

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
    check(error == 0, "posix_spawn");
    return pid;
}

// One unit served by unit-sim as COM `port` of the test device directory,
// until stop() or the end of the scope.
class UnitSimProcess {
  public:
    static constexpr int kStartWaitMs = 5000;

    UnitSimProcess(int port, const std::vector<std::string>& options)
        : report_(std::filesystem::temp_directory_path() /
                  ("vendra-unit-sim-" + std::to_string(::getpid()) + "-" + std::to_string(port) +
                   ".report")) {
        std::filesystem::create_directories(deviceDirectory());
        std::filesystem::remove(report_);
        std::vector<std::string> argv{UNIT_SIM_PATH,
                                      "--dir",
                                      deviceDirectory().string(),
                                      "--port",
                                      std::to_string(port),
                                      "--report",
                                      report_.string()};
        argv.insert(argv.end(), options.begin(), options.end());
        int ends[2];
        check(::pipe2(ends, O_CLOEXEC) == 0, "pipe");
        const Fd readEnd(ends[0]);
        {
            const Fd writeEnd(ends[1]);
            pid_ = spawnProcess(argv, -1, writeEnd.get());
        }
        pollfd watched{readEnd.get(), POLLIN, 0};
        check(::poll(&watched, 1, kStartWaitMs) == 1, "unit-sim did not start");
        char line[512] = {};
        check(::read(readEnd.get(), line, sizeof line - 1) > 0 &&
                  std::string_view(line).starts_with("ready "),
              "unit-sim did not report its link");
    }
    UnitSimProcess(const UnitSimProcess&) = delete;
    UnitSimProcess& operator=(const UnitSimProcess&) = delete;
    ~UnitSimProcess() {
        stop();
        std::error_code ignored;
        std::filesystem::remove(report_, ignored);
    }

    // Ends unit-sim, which removes its link; returns its report.
    std::string stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
            pid_ = 0;
        }
        std::ifstream file(report_);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

  private:
    std::filesystem::path report_;
    pid_t pid_ = 0;
};

struct ProgramRun {
    std::string output;
    int status = -1;  // the exit status, -1 when it did not exit by itself
};

// Runs `program` with an empty standard input (the key press then returns at
// once) and collects its standard output; ends it after `limit`.
inline ProgramRun runProgram(const std::string& program, std::chrono::milliseconds limit) {
    int input[2];
    int output[2];
    check(::pipe2(input, O_CLOEXEC) == 0 && ::pipe2(output, O_CLOEXEC) == 0, "pipe");
    const Fd outputRead(output[0]);
    pid_t pid = 0;
    {
        const Fd inputRead(input[0]);
        const Fd outputWrite(output[1]);
        ::close(input[1]);
        pid = spawnProcess({program}, inputRead.get(), outputWrite.get());
    }
    ProgramRun run;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool ended = false;
    while (!ended) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd watched{outputRead.get(), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&watched, 1, static_cast<int>(left.count())) <= 0) {
            ::kill(pid, SIGKILL);
            break;
        }
        char chunk[4096];
        const ssize_t count = ::read(outputRead.get(), chunk, sizeof chunk);
        ended = count <= 0;
        if (count > 0) {
            run.output.append(chunk, static_cast<std::size_t>(count));
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (ended && WIFEXITED(status)) {
        run.status = WEXITSTATUS(status);
    }
    return run;
}

}  // namespace posix_test

#endif
