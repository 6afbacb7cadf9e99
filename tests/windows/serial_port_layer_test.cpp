// The serial port layer through the win32 adapter, under Wine, against
// pseudo-terminals linked as COM3 and COM4; COM1, COM2 and the rest are
// absent. The far ends are reached through far_side.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "ComPortAPI.h"
#include "FarSide.h"
#include "SerialRecords.h"

namespace {

using namespace std::chrono_literals;

constexpr int kPort = 3;
constexpr int kOtherPort = 4;
// What the callers ask of every read: nearly the whole scratch buffer.
constexpr int kLargeRead = 1023999;

std::chrono::milliseconds elapsedSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start);
}

class SerialPortLayer : public ::testing::Test {
  protected:
    void SetUp() override {
        ComPortAPI_RestoreInitialState();
        // Nothing left over from an earlier case on either end.
        far_side::receive(kPort);
    }
    void TearDown() override { ComPortAPI_RestoreInitialState(); }

    static int openPort(int port = kPort) {
        testing::internal::CaptureStdout();
        const int result = ComPortAPI_OpenCOM(port);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        return result;
    }

    static std::string read(int count) {
        std::vector<char> buffer(static_cast<std::size_t>(count));
        int received = -1;
        EXPECT_EQ(ComPortAPI_ReadCOM(buffer.data(), count, &received), 1);
        return std::string(buffer.data(), static_cast<std::size_t>(std::max(received, 0)));
    }
};

TEST_F(SerialPortLayer, OpensWithTheInitialLineSettings) {
    ASSERT_EQ(openPort(), 1);
    const far_side::LineSettings line = far_side::lineSettings(kPort);
    EXPECT_EQ(line.baudRate, 9600U);
    EXPECT_TRUE(line.ctsFlow);
    EXPECT_EQ(line.frame, "8N1");
}

TEST_F(SerialPortLayer, EqualValueSucceedsWithoutAnyPortOrPlatformCall) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(ComPortAPI_SetBaudRate(BAUD_RATE), 1);
    EXPECT_EQ(ComPortAPI_SetReadingTimeoutInMs(MAX_WAIT_READ), 1);
    EXPECT_EQ(ComPortAPI_SetHardwareFlowControl(1), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(SerialPortLayer, EqualValueOnAnOpenPortLeavesTheLineAlone) {
    ASSERT_EQ(openPort(), 1);
    // Settings changed behind the layer's back stay, because nothing is applied.
    far_side::setLineSettings(kPort, 2400, false);
    EXPECT_EQ(ComPortAPI_SetBaudRate(BAUD_RATE), 1);
    EXPECT_EQ(ComPortAPI_SetHardwareFlowControl(1), 1);
    const far_side::LineSettings line = far_side::lineSettings(kPort);
    EXPECT_EQ(line.baudRate, 2400U);
    EXPECT_FALSE(line.ctsFlow);
}

TEST_F(SerialPortLayer, NewValueWithoutPortFailsAndTheNextOpenAppliesIt) {
    EXPECT_EQ(ComPortAPI_SetHardwareFlowControl(0), 0);
    EXPECT_EQ(ComPortAPI_SetBaudRate(19200), 0);
    EXPECT_EQ(ComPortAPI_SetReadingTimeoutInMs(200), 0);
    EXPECT_EQ(g_dcb.fOutxCtsFlow, 0U);
    EXPECT_EQ(g_dcb.BaudRate, 19200U);
    EXPECT_EQ(g_cto.ReadIntervalTimeout, 200U);
    EXPECT_EQ(g_cto.ReadTotalTimeoutConstant, 200U);

    ASSERT_EQ(openPort(), 1);
    const far_side::LineSettings line = far_side::lineSettings(kPort);
    EXPECT_EQ(line.baudRate, 19200U);
    EXPECT_FALSE(line.ctsFlow);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(read(kLargeRead), "");
    EXPECT_GE(elapsedSince(start), 190ms);
}

TEST_F(SerialPortLayer, SettersChangeTheOpenPortAtOnceAndSurviveAReopen) {
    ASSERT_EQ(openPort(), 1);
    EXPECT_EQ(ComPortAPI_SetBaudRate(115200), 1);
    EXPECT_EQ(far_side::lineSettings(kPort).baudRate, 115200U);
    EXPECT_EQ(ComPortAPI_SetHardwareFlowControl(0), 1);
    EXPECT_FALSE(far_side::lineSettings(kPort).ctsFlow);
    EXPECT_EQ(far_side::lineSettings(kPort).baudRate, 115200U);
    EXPECT_EQ(ComPortAPI_SetHardwareFlowControl(1), 1);
    EXPECT_TRUE(far_side::lineSettings(kPort).ctsFlow);

    EXPECT_EQ(ComPortAPI_CloseCOM(), 1);
    far_side::setLineSettings(kPort, 9600, false);
    ASSERT_EQ(openPort(), 1);
    const far_side::LineSettings line = far_side::lineSettings(kPort);
    EXPECT_EQ(line.baudRate, 115200U);
    EXPECT_TRUE(line.ctsFlow);
}

TEST_F(SerialPortLayer, ReadOnASilentLineLastsOneTimeoutAndSucceedsEmpty) {
    ASSERT_EQ(openPort(), 1);
    EXPECT_EQ(ComPortAPI_SetReadingTimeoutInMs(1000), 1);
    EXPECT_EQ(g_cto.ReadIntervalTimeout, 1000U);
    EXPECT_EQ(g_cto.ReadTotalTimeoutConstant, 1000U);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(read(kLargeRead), "");
    const auto elapsed = elapsedSince(start);
    // Wine's clock ticks are coarser than the host's.
    EXPECT_GE(elapsed, 980ms);
    EXPECT_LT(elapsed, 3000ms);
}

TEST_F(SerialPortLayer, ReadReturnsWhatArrivedWithinTheTimeoutUntranslated) {
    ASSERT_EQ(openPort(), 1);
    EXPECT_EQ(ComPortAPI_SetReadingTimeoutInMs(300), 1);
    const std::string reply("Ready\r\n>>\x11\x13\x00\xff\n\r", 15);
    far_side::send(kPort, reply);
    EXPECT_EQ(read(kLargeRead), reply);
}

TEST_F(SerialPortLayer, ReadEndsWhenTheCountArrivedAndTheRestWaitsForTheNext) {
    ASSERT_EQ(openPort(), 1);
    EXPECT_EQ(ComPortAPI_SetReadingTimeoutInMs(10000), 1);
    far_side::send(kPort, "abcdef");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(read(4), "abcd");
    EXPECT_EQ(read(2), "ef");
    EXPECT_LT(elapsedSince(start), 10000ms);
}

TEST_F(SerialPortLayer, WriteSendsEveryByteUntranslatedToItsOwnPort) {
    ASSERT_EQ(openPort(), 1);
    const std::string frame("%%fw -p\n\r\x00\xff\x11\x13", 13);
    int written = -1;
    EXPECT_EQ(ComPortAPI_WriteCOM(frame.data(), static_cast<int>(frame.size()), &written), 1);
    EXPECT_EQ(written, static_cast<int>(frame.size()));
    EXPECT_EQ(far_side::receive(kPort), frame);
    EXPECT_EQ(far_side::receive(kOtherPort), "");
}

TEST_F(SerialPortLayer, BytesSentWhileNoPortIsOpenAreNeverRead) {
    EXPECT_EQ(ComPortAPI_SetReadingTimeoutInMs(100), 0);
    far_side::send(kPort, "before the first open");
    ASSERT_EQ(openPort(), 1);
    EXPECT_EQ(read(kLargeRead), "");

    far_side::send(kPort, "while open");
    EXPECT_EQ(read(kLargeRead), "while open");

    EXPECT_EQ(ComPortAPI_CloseCOM(), 1);
    far_side::send(kPort, "between close and open");
    ASSERT_EQ(openPort(), 1);
    EXPECT_EQ(read(kLargeRead), "");
}

TEST_F(SerialPortLayer, OperationsWithoutAPortFail) {
    EXPECT_EQ(ComPortAPI_CloseCOM(), 1);
    char buffer[8];
    int count = -1;
    EXPECT_EQ(ComPortAPI_ReadCOM(buffer, sizeof buffer, &count), 0);
    EXPECT_EQ(count, 0);
    count = -1;
    EXPECT_EQ(ComPortAPI_WriteCOM("x", 1, &count), 0);
    EXPECT_EQ(count, 0);

    ASSERT_EQ(openPort(), 1);
    EXPECT_EQ(ComPortAPI_CloseCOM(), 1);
    EXPECT_EQ(ComPortAPI_CloseCOM(), 1);
    EXPECT_EQ(ComPortAPI_ReadCOM(buffer, sizeof buffer, &count), 0);
    EXPECT_EQ(ComPortAPI_SetBaudRate(57600), 0);
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
