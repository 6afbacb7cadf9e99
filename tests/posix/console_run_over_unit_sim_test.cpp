// The console program, built with the test device directory, against units
// served by unit-sim on pseudo-terminals, in real time: discovery over the
// POSIX adapter, the identification, and the line each frame went out on.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "PosixTestSupport.h"
#include "ProgramRun.h"
#include "SystemTexts.h"
#include "UnitSimProcess.h"

namespace {

using namespace system_texts;

using namespace posix_test;
using namespace std::chrono_literals;

constexpr auto kRunLimit = 60s;
const std::string kRunEnd = kUpdateFailed + kPressAnyKey;

std::string found(int port, int rate) {
    char text[128];
    std::snprintf(text, sizeof text, "COM PORT Number : %d", port);
    char rateText[128];
    std::snprintf(rateText, sizeof rateText, "\r\nBaud rate       : %d \r\n\r\n", rate);
    return std::string("OK\r") + "\n" + text + rateText;
}

std::string versionLines(int device) {
    char firmware[128];
    std::snprintf(firmware, sizeof firmware,
                  "Checking firmware version ..............  %d.%02d.%02d \r\n", 1, 0, 6);
    char fpga[128];
    std::snprintf(fpga, sizeof fpga,
                  "Checking fpga version ..................  %s %d.%02d  device:%d\r\n", "K620418",
                  1, 7, device);
    return std::string(firmware) + fpga;
}

struct Frame {
    std::string baud;
    std::string cts;
    std::string command;
    bool operator==(const Frame&) const = default;
};

void PrintTo(const Frame& frame, std::ostream* out) {
    *out << frame.baud << "/cts=" << frame.cts << " \"" << frame.command << '"';
}

// The frames of a unit-sim report, the arguments of a load command dropped.
std::vector<Frame> framesOf(const std::string& report) {
    static const std::regex kFrame(R"(frame t=\S+ baud=(\d+) cts=(\d) command="([^"]*)\")");
    std::vector<Frame> frames;
    for (auto it = std::sregex_iterator(report.begin(), report.end(), kFrame);
         it != std::sregex_iterator(); ++it) {
        std::string command = (*it)[3];
        if (command.starts_with("%fw -l ") || command.starts_with("%fw -h ")) {
            command.resize(6);
        }
        frames.push_back({(*it)[1], (*it)[2], command});
    }
    return frames;
}

class ConsoleRunOverUnitSim : public ::testing::Test {
  protected:
    // Only the links the test makes may stand in the device directory.
    void SetUp() override {
        std::filesystem::remove_all(deviceDirectory());
        std::filesystem::create_directories(deviceDirectory());
    }
    void TearDown() override { std::filesystem::remove_all(deviceDirectory()); }
};

struct UnitPort {
    int port;
    std::vector<std::string> options;
};

struct RunCase {
    const char* name;
    UnitPort mute;  // port 0: none
    UnitPort unit;
    std::string outputStart;
    std::vector<Frame> unitFrames;
    std::string unitGarbage;
};

TEST_F(ConsoleRunOverUnitSim, FindsAndIdentifiesTheUnit) {
    const Frame probe{"9600", "0", "%help -c version"};
    const std::vector<RunCase> cases{
        {"TX unit on COM3 at 9600, COM1 silent, COM2 absent",
         {1, {"--mute"}},
         {3, {"--rate", "9600", "--variant", "tx", "--fault", "no-ready"}},
         kBanner + found(3, 9600) + versionLines(7) + kProductLabel + "TX OK\r\n" + kTxIdentity +
             "\r\n",
         {probe, {"9600", "1", "%fw -v"}, {"9600", "1", "%fw -p"}, {"9600", "1", "%fw -l"}},
         // the two probes at 115200
         "garbage bytes=40"},
        {"unit with device code 3",
         {0, {}},
         {1, {"--rate", "9600", "--fault", "device-code-3"}},
         kBanner + found(1, 9600) + versionLines(3) + kProductLabel + kUnknownProduct + kRunEnd,
         {probe, {"9600", "1", "%fw -v"}},
         "garbage bytes=40"},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<test_support::UnitSimProcess> mute;
        if (c.mute.port != 0) {
            mute = std::make_unique<test_support::UnitSimProcess>(deviceDirectory(), c.mute.port,
                                                                  c.mute.options);
        }
        test_support::UnitSimProcess unit(deviceDirectory(), c.unit.port, c.unit.options);

        const ProgramRun run = runProgram(TEST_DEVICES_PROGRAM, kRunLimit);

        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.output.starts_with(c.outputStart)) << run.output;
        EXPECT_TRUE(run.output.ends_with(kRunEnd)) << run.output;
        const std::string report = unit.stop();
        EXPECT_EQ(framesOf(report), c.unitFrames) << report;
        EXPECT_NE(report.find(c.unitGarbage), std::string::npos) << report;
        EXPECT_EQ(report.find("violation"), std::string::npos) << report;

        if (mute) {
            // Twelve probes: two at each rate, the two at 9600 readable.
            const std::string muteReport = mute->stop();
            EXPECT_EQ(framesOf(muteReport), (std::vector<Frame>{probe, probe})) << muteReport;
            EXPECT_NE(muteReport.find("garbage bytes=200"), std::string::npos) << muteReport;
        }
    }
}

}  // namespace
