// The serial port layer through the win32 adapter, under Wine, against
// pseudo-terminals linked as COM3 and COM4; COM1, COM2 and the rest are
// absent. The far ends are reached through far_side. The contract every
// adapter keeps runs here too; the cases below are what only this adapter
// shows.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "ComPortAPI.h"
#include "FarSide.h"
#include "SerialPortContract.h"
#include "SerialRecords.h"

namespace {

constexpr int kPort = 3;
constexpr int kOtherPort = 4;

class WineFarSide {
  public:
    static constexpr int kPort = ::kPort;
    // Wine takes any rate on a pseudo-terminal: 0 hangs the line up, and a rate
    // without a speed constant becomes 38400.
    static constexpr std::array<std::uint32_t, 0> kRefusedRates{};
    // Wine's clock ticks are coarser than the host's.
    static constexpr std::chrono::microseconds kEarliest{std::chrono::milliseconds(20)};
    // Every request to the far side passes through Wine's console pipes.
    static constexpr std::chrono::microseconds kLatest{std::chrono::milliseconds(1000)};
    static constexpr bool kExclusiveOpen = false;
    static constexpr bool kDrivesCts = false;
    static constexpr bool kChangesLine = true;

    // Nothing left over from an earlier case.
    WineFarSide() { far_side::receive(kPort); }

    static serial_contract::FarLine line() {
        const far_side::LineSettings settings = far_side::lineSettings(kPort);
        return {settings.baudRate, settings.ctsFlow};
    }
    static void send(std::string_view bytes) { far_side::send(kPort, bytes); }
    static std::string receive() { return far_side::receive(kPort); }
    static std::chrono::microseconds now() {
        return std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    }
    static void changeLine(std::uint32_t rate, bool ctsFlow) {
        far_side::setLineSettings(kPort, rate, ctsFlow);
    }
};

class SerialPortLayer : public ::testing::Test {
  protected:
    void SetUp() override {
        ComPortAPI_RestoreInitialState();
        far_side::receive(kPort);
    }
    void TearDown() override { ComPortAPI_RestoreInitialState(); }
};

TEST_F(SerialPortLayer, OpensAnEightNoneOneLineSilently) {
    testing::internal::CaptureStdout();
    ASSERT_EQ(ComPortAPI_OpenCOM(kPort), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(far_side::lineSettings(kPort).frame, "8N1");
}

TEST_F(SerialPortLayer, WritesReachOnlyTheirOwnPort) {
    ASSERT_EQ(ComPortAPI_OpenCOM(kPort), 1);
    int written = -1;
    EXPECT_EQ(ComPortAPI_WriteCOM("%%fw -p\n\r", 9, &written), 1);
    EXPECT_EQ(far_side::receive(kPort), "%%fw -p\n\r");
    EXPECT_EQ(far_side::receive(kOtherPort), "");
}

TEST_F(SerialPortLayer, PortsWithoutADeviceFailToOpen) {
    // COM1 and COM2 are absent because Wine sees no serial device of the machine.
    const struct {
        int port;
        const char* message;
    } cases[] = {
        {1, "ERROR: Opening COM1 failed !"},
        {2, "ERROR: Opening COM2 failed !"},
        {7, "ERROR: Opening COM7 failed !"},
        {0, "ERROR: Opening COM0 failed !"},
        {123456789, "ERROR: Opening COM123456789 failed !"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        testing::internal::CaptureStdout();
        EXPECT_EQ(ComPortAPI_OpenCOM(c.port), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
        EXPECT_EQ(g_hCOM, platform::kInvalidSerialHandle);
    }
}

}  // namespace

namespace serial_contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, SerialPortContract, WineFarSide);
}  // namespace serial_contract
