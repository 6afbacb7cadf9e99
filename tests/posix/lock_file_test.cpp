// The UUCP lock file the program writes for the port it holds: its pid in
// HDB form while the port is open, gone when the port closes, the dialogue's
// early exits included.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "ComPortAPI.h"
#include "PortLockSupport.h"
#include "PosixTestSupport.h"
#include "ProgramRun.h"

namespace {

using namespace posix_test;
using namespace std::chrono_literals;

constexpr int kPort = 3;
constexpr const char* kDevice = "ttyS2";
// Discovery over one silent port: twelve probes of 500 ms and their writes.
constexpr int kDialogueWaitMs = 30000;

class LockFile : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::remove_all(deviceDirectory());
        std::filesystem::create_directories(deviceDirectory());
        ComPortAPI_RestoreInitialState();
    }
    void TearDown() override {
        ComPortAPI_RestoreInitialState();
        std::filesystem::remove_all(deviceDirectory());
    }

    CleanLockState locks_;
};

TEST_F(LockFile, HoldsThePidWhileThePortIsOpen) {
    PseudoTerminal unit;
    DeviceLink link(kDevice, unit.slavePath());
    // Discovery opens and closes a port once per rate.
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(ComPortAPI_OpenCOM(kPort), 1);
        EXPECT_EQ(readFile(lockFileOf(kDevice)), hdbLock(::getpid()));
        // A second open of the same line finds it in use.
        EXPECT_EQ(platform::serialOpen("\\\\.\\COM3"), platform::kInvalidSerialHandle);
        EXPECT_EQ(ComPortAPI_CloseCOM(), 1);
        EXPECT_FALSE(std::filesystem::exists(lockFileOf(kDevice)));
    }
    EXPECT_TRUE(std::filesystem::is_empty(lockDirectory()));
}

TEST_F(LockFile, NoLockDirectoryStopsNothing) {
    PseudoTerminal unit;
    DeviceLink link(kDevice, unit.slavePath());
    std::filesystem::remove_all(lockDirectory());
    EXPECT_EQ(ComPortAPI_OpenCOM(kPort), 1);
    EXPECT_FALSE(std::filesystem::exists(lockDirectory()));
    EXPECT_EQ(ComPortAPI_CloseCOM(), 1);
}

// The console program with its standard input and output on pipes, answered
// one prompt at a time.
class Dialogue {
  public:
    Dialogue() {
        int input[2];
        int output[2];
        check(::pipe2(input, O_CLOEXEC) == 0 && ::pipe2(output, O_CLOEXEC) == 0, "pipe");
        const Fd inputRead(input[0]);
        const Fd outputWrite(output[1]);
        input_.emplace(input[1]);
        output_.emplace(output[0]);
        pid_ = spawnProcess({TEST_DEVICES_PROGRAM}, inputRead.get(), outputWrite.get());
    }
    Dialogue(const Dialogue&) = delete;
    Dialogue& operator=(const Dialogue&) = delete;
    ~Dialogue() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    pid_t pid() const { return pid_; }

    // True once the output ends with `text`.
    bool waitFor(const std::string& text) {
        while (!output.ends_with(text)) {
            pollfd watched{output_->get(), POLLIN, 0};
            char chunk[4096];
            ssize_t count = 0;
            if (::poll(&watched, 1, kDialogueWaitMs) <= 0 ||
                (count = ::read(output_->get(), chunk, sizeof chunk)) <= 0) {
                return false;
            }
            output.append(chunk, static_cast<std::size_t>(count));
        }
        return true;
    }

    void answer(const std::string& line) { writeAll(input_->get(), line + "\n"); }

    // The exit status once standard input has ended (the key press).
    int exitStatus() {
        input_.reset();
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string output;

  private:
    std::optional<Fd> input_;
    std::optional<Fd> output_;
    pid_t pid_ = 0;
};

const std::string kPortPrompt = "FAILED\n\r\n\rEnter the COM port number : ";

TEST_F(LockFile, GoneAfterTheDialogueEndsOnAPortThatDoesNotOpen) {
    // No terminal: the lock is taken before the open and must go with it.
    DeviceLink link(kDevice, "/dev/null");
    Dialogue run;
    ASSERT_TRUE(run.waitFor(kPortPrompt)) << run.output;
    run.answer("3");
    ASSERT_TRUE(
        run.waitFor("\r\nOpening COM3....................ERROR: Opening COM3 failed !"
                    "\r\nPress any key to exit"))
        << run.output;
    EXPECT_EQ(run.exitStatus(), 255);
    EXPECT_TRUE(std::filesystem::is_empty(lockDirectory()));
}

TEST_F(LockFile, HeldByTheProgramAndGoneAfterTheDialogueEndsOnARefusedRate) {
    PseudoTerminal silent;
    DeviceLink link(kDevice, silent.slavePath());
    Dialogue run;
    ASSERT_TRUE(run.waitFor(kPortPrompt)) << run.output;
    run.answer("3");
    ASSERT_TRUE(
        run.waitFor("\r\nOpening COM3....................OK\r\n"
                    "\n\r\n\rEnter the BAUD RATE       : "))
        << run.output;
    EXPECT_EQ(readFile(lockFileOf(kDevice)), hdbLock(run.pid()));
    run.answer("0");
    ASSERT_TRUE(run.waitFor("\r\nSetting baud rate at 0..........\r\nPress any key to exit"))
        << run.output;
    EXPECT_EQ(run.exitStatus(), 255);
    EXPECT_TRUE(std::filesystem::is_empty(lockDirectory()));
}

}  // namespace
