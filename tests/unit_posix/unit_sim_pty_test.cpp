// unit-sim over a pseudo-terminal, in real time. Only the link that unit-sim
// makes in a temporary directory is opened.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "LineSettings.h"
#include "ScratchDirectory.h"
#include "SerialRecords.h"
#include "SystemTexts.h"
#include "UnitModel.h"
#include "UnitSimProcess.h"

namespace {

using namespace system_texts;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kReplyWaitMs = 500;

// unit-sim linking COM3 in a scratch directory of its own.
class UnitSim {
  public:
    explicit UnitSim(const std::vector<std::string>& options)
        : process_(devices_.path(), 3, options) {}

    fs::path device() const { return devices_ / "ttyS2"; }
    // Ends unit-sim, which must exit cleanly; returns its report.
    std::string stop() {
        std::string report = process_.stop();
        EXPECT_EQ(process_.exitStatus(), 0);
        return report;
    }

  private:
    ScratchDirectory devices_;
    test_support::UnitSimProcess process_;
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

TEST(UnitSimPty, AnswersTheProbeOnlyAtItsRateAndReportsWhatItGot) {
    UnitSim unit({"--rate", "9600", "--variant", "rx"});
    {
        Line line(unit.device());
        line.set(B115200, false);
        EXPECT_EQ(line.exchange(kProbeFrame), "");
        line.set(B9600, false);
        EXPECT_EQ(line.exchange(kProbeFrame), system_texts::kProbeReply);
        line.set(B9600, true);
        EXPECT_EQ(line.exchange("%%%fw -p\n\r"), system_texts::kRxIdentity);
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
        EXPECT_EQ(line.exchange(kProbeFrame), system_texts::kProbeReply);
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
        EXPECT_EQ(line.exchange(kProbeFrame), "");
    }
    EXPECT_NE(unit.stop().find("command=\"%help -c version\""), std::string::npos);
}

}  // namespace
