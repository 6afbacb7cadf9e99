// A program run with its standard output captured, for tests in real time.
#ifndef VENDRA_TESTS_POSIX_PROGRAMRUN_H
#define VENDRA_TESTS_POSIX_PROGRAMRUN_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "PosixTestSupport.h"
#include "UnitSimProcess.h"

namespace posix_test {

using test_support::spawnProcess;

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
