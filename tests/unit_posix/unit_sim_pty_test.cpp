// unit-sim over a pseudo-terminal, in real time. Only the link that unit-sim
// makes in a temporary directory is opened.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "LineSettings.h"
#include "SerialRecords.h"
#include "UnitModel.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kReadyWaitMs = 5000;
constexpr int kReplyWaitMs = 500;

class UnitSim {
  public:
    explicit UnitSim(std::vector<std::string> extra) {
        dir_ = fs::temp_directory_path() /
               ("unit-sim-test-" + std::to_string(getpid()) + "-" + std::to_string(counter_++));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        std::vector<std::string> args{UNIT_SIM_PATH, "--dir",    dir_.string(),    "--port",
                                      "3",           "--report", report().string()};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        int out[2];
        EXPECT_EQ(pipe(out), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        output_ = out[0];
        pollfd watched{output_, POLLIN, 0};
        EXPECT_EQ(poll(&watched, 1, kReadyWaitMs), 1) << "unit-sim did not start";
        char line[256] = {};
        const ssize_t got = read(output_, line, sizeof line - 1);
        EXPECT_GT(got, 0);
        EXPECT_TRUE(std::string(line).starts_with("ready ")) << line;
    }
    ~UnitSim() {
        stop();
        close(output_);
        fs::remove_all(dir_);
    }

    fs::path device() const { return dir_ / "ttyS2"; }
    fs::path report() const { return dir_ / "report.txt"; }

    // Ends unit-sim as a test harness would; returns its report.
    std::string stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            pid_ = 0;
        }
        std::ifstream file(report());
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

  private:
    static inline int counter_ = 0;
    fs::path dir_;
    pid_t pid_ = 0;
    int output_ = -1;
};

class Line {
  public:
    explicit Line(const fs::path& device) : fd_(open(device.c_str(), O_RDWR | O_NOCTTY)) {
        EXPECT_GE(fd_, 0) << device;
    }
    ~Line() { close(fd_); }

    void set(speed_t speed, bool cts) {
        termios settings{};
        tcgetattr(fd_, &settings);
        cfmakeraw(&settings);
        settings.c_cflag |= CLOCAL | CREAD;
        if (cts) {
            settings.c_cflag |= CRTSCTS;
        } else {
            settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
        }
        cfsetspeed(&settings, speed);
        tcsetattr(fd_, TCSANOW, &settings);
        tcflush(fd_, TCIOFLUSH);
    }

    // Writes a frame and returns what arrives within one read time-out.
    std::string exchange(std::string_view frame) {
        EXPECT_EQ(write(fd_, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
        std::string reply;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyWaitMs);
        for (auto now = std::chrono::steady_clock::now(); now < end;
             now = std::chrono::steady_clock::now()) {
            pollfd watched{fd_, POLLIN, 0};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
            if (poll(&watched, 1, static_cast<int>(left)) == 1) {
                char buffer[512];
                const ssize_t got = read(fd_, buffer, sizeof buffer);
                if (got > 0) {
                    reply.append(buffer, static_cast<std::size_t>(got));
                }
            }
        }
        return reply;
    }

    int fd() const { return fd_; }

  private:
    int fd_;
};

constexpr std::string_view kProbe = "%%%help -c version\n\r";

TEST(UnitSimPty, AnswersTheProbeOnlyAtItsRateAndReportsWhatItGot) {
    UnitSim unit({"--rate", "9600", "--variant", "rx"});
    {
        Line line(unit.device());
        line.set(B115200, false);
        EXPECT_EQ(line.exchange(kProbe), "");
        line.set(B9600, false);
        EXPECT_EQ(line.exchange(kProbe), unitsim::kHelpVersionReply);
        line.set(B9600, true);
        EXPECT_EQ(line.exchange("%%%fw -p\n\r"), unitsim::kRxIdentity);
    }
    const std::string report = unit.stop();
    EXPECT_NE(report.find("baud=9600 cts=0 command=\"%help -c version\""), std::string::npos)
        << report;
    EXPECT_NE(report.find("baud=9600 cts=1 command=\"%fw -p\""), std::string::npos) << report;
    EXPECT_NE(report.find("garbage bytes=20"), std::string::npos) << report;
    EXPECT_EQ(report.find("violation"), std::string::npos) << report;
    EXPECT_FALSE(fs::exists(fs::symlink_status(unit.device())));
}

// A host may set any rate exactly (14400 has no speed constant); unit-sim
// hears it at that rate, not as an unknown one.
TEST(UnitSimPty, HearsARateWithoutASpeedConstant) {
    UnitSim unit({"--rate", "14400"});
    {
        Line line(unit.device());
        DCB settings{};
        settings.BaudRate = 14400;
        settings.ByteSize = 8;
        ASSERT_TRUE(platform::posix::applyLineSettings(line.fd(), settings));
        EXPECT_EQ(line.exchange(kProbe), unitsim::kHelpVersionReply);
    }
    const std::string report = unit.stop();
    EXPECT_NE(report.find("baud=14400 cts=0 command=\"%help -c version\""), std::string::npos)
        << report;
}

TEST(UnitSimPty, MutePortTakesBytesAndNeverAnswers) {
    UnitSim unit({"--mute"});
    {
        Line line(unit.device());
        line.set(B9600, false);
        EXPECT_EQ(line.exchange(kProbe), "");
    }
    EXPECT_NE(unit.stop().find("command=\"%help -c version\""), std::string::npos);
}

}  // namespace
