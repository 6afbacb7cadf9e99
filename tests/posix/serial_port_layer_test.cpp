// The serial port layer through the POSIX adapter, against pseudo-terminals
// linked as serial devices.
#include <gtest/gtest.h>
#include <termios.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "ComPortAPI.h"
#include "PosixTestSupport.h"
#include "SerialRecords.h"

namespace {

using namespace posix_test;
using namespace std::chrono_literals;

// COM3 is the port the tests open unless a case says otherwise.
constexpr int kPort = 3;
constexpr const char* kPortDevice = "ttyS2";
// What the callers ask of every read: nearly the whole scratch buffer.
constexpr int kLargeRead = 1023999;

class SerialPortLayer : public ::testing::Test {
  protected:
    SerialPortLayer() : link_(kPortDevice, unit_.slavePath()) {}
    void SetUp() override { ComPortAPI_RestoreInitialState(); }
    void TearDown() override { ComPortAPI_RestoreInitialState(); }

    int openPort(int port = kPort) {
        StdoutCapture console;
        const int result = ComPortAPI_OpenCOM(port);
        EXPECT_EQ(console.finish(), "");
        return result;
    }

    std::string read(int count) {
        std::vector<char> buffer(static_cast<std::size_t>(count));
        int received = -1;
        EXPECT_EQ(ComPortAPI_ReadCOM(buffer.data(), count, &received), 1);
        return std::string(buffer.data(), static_cast<std::size_t>(std::max(received, 0)));
    }

    PseudoTerminal unit_;
    DeviceLink link_;
};

bool ctsFlowOn(const termios& attributes) {
    return (attributes.c_cflag & CRTSCTS) != 0;
}
speed_t outputSpeed(const termios& attributes) {
    return cfgetospeed(&attributes);
}

TEST_F(SerialPortLayer, OpensWithTheInitialLineSettings) {
    ASSERT_EQ(openPort(), 1);
    const termios line = unit_.farSide();
    EXPECT_EQ(cfgetospeed(&line), B9600);
    EXPECT_EQ(cfgetispeed(&line), B9600);
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB), 0U);
    EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_TRUE(ctsFlowOn(line));
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0U);
    EXPECT_EQ(line.c_oflag & OPOST, 0U);
    EXPECT_EQ(line.c_iflag & (ICRNL | INLCR | IXON | IXOFF), 0U);
}

TEST_F(SerialPortLayer, EqualValueSucceedsWithoutAnyPortOrPlatformCall) {
    StdoutCapture console;
    EXPECT_EQ(ComPortAPI_SetBaudRate(BAUD_RATE), 1);
    EXPECT_EQ(ComPortAPI_SetReadingTimeoutInMs(MAX_WAIT_READ), 1);
    EXPECT_EQ(ComPortAPI_SetHardwareFlowControl(1), 1);
    EXPECT_EQ(console.finish(), "");
}

TEST_F(SerialPortLayer, EqualValueOnAnOpenPortLeavesTheLineAlone) {
    ASSERT_EQ(openPort(), 1);
    // Settings changed behind the layer's back stay, because nothing is applied.
    unit_.setFarSide(B2400, false);
    EXPECT_EQ(ComPortAPI_SetBaudRate(BAUD_RATE), 1);
    EXPECT_EQ(ComPortAPI_SetHardwareFlowControl(1), 1);
    const termios line = unit_.farSide();
    EXPECT_EQ(cfgetospeed(&line), B2400);
    EXPECT_FALSE(ctsFlowOn(line));
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
    const termios line = unit_.farSide();
    EXPECT_EQ(cfgetospeed(&line), B19200);
    EXPECT_FALSE(ctsFlowOn(line));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(read(kLargeRead), "");
    EXPECT_GE(elapsedSince(start), 200ms);
}

TEST_F(SerialPortLayer, SettersChangeTheOpenPortAtOnceAndSurviveAReopen) {
    ASSERT_EQ(openPort(), 1);
    EXPECT_EQ(ComPortAPI_SetBaudRate(115200), 1);
    EXPECT_EQ(outputSpeed(unit_.farSide()), B115200);
    EXPECT_EQ(ComPortAPI_SetHardwareFlowControl(0), 1);
    EXPECT_FALSE(ctsFlowOn(unit_.farSide()));
    EXPECT_EQ(outputSpeed(unit_.farSide()), B115200);
    EXPECT_EQ(ComPortAPI_SetHardwareFlowControl(1), 1);
    EXPECT_TRUE(ctsFlowOn(unit_.farSide()));

    EXPECT_EQ(ComPortAPI_CloseCOM(), 1);
    unit_.setFarSide(B9600, false);
    ASSERT_EQ(openPort(), 1);
    const termios line = unit_.farSide();
    EXPECT_EQ(cfgetospeed(&line), B115200);
    EXPECT_TRUE(ctsFlowOn(line));
}

TEST_F(SerialPortLayer, RateWithoutSpeedConstantIsRefusedAndKept) {
    ASSERT_EQ(openPort(), 1);
    for (const int rate : {0, -1}) {
        SCOPED_TRACE(rate);
        EXPECT_EQ(ComPortAPI_SetBaudRate(rate), 0);
        EXPECT_EQ(g_dcb.BaudRate, static_cast<std::uint32_t>(rate));
        EXPECT_EQ(outputSpeed(unit_.farSide()), B9600);
    }
}

TEST_F(SerialPortLayer, ConfigurationFailureClosesThePort) {
    EXPECT_EQ(ComPortAPI_SetBaudRate(0), 0);
    StdoutCapture console;
    EXPECT_EQ(ComPortAPI_OpenCOM(kPort), 0);
    EXPECT_EQ(console.finish(), "ERROR: COM3 configuration failed !");

    // The failed port was released: it opens again once the rate is one the
    // line can take.
    EXPECT_EQ(ComPortAPI_SetBaudRate(BAUD_RATE), 0);
    EXPECT_EQ(openPort(), 1);
}

TEST_F(SerialPortLayer, ReadOnASilentLineLastsOneTimeoutAndSucceedsEmpty) {
    ASSERT_EQ(openPort(), 1);
    EXPECT_EQ(ComPortAPI_SetReadingTimeoutInMs(300), 1);
    EXPECT_EQ(g_cto.ReadIntervalTimeout, 300U);
    EXPECT_EQ(g_cto.ReadTotalTimeoutConstant, 300U);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(read(kLargeRead), "");
    const auto elapsed = elapsedSince(start);
    EXPECT_GE(elapsed, 300ms);
    EXPECT_LT(elapsed, 3000ms);
}

TEST_F(SerialPortLayer, ReadReturnsWhatArrivedWithinTheTimeoutUntranslated) {
    ASSERT_EQ(openPort(), 1);
    EXPECT_EQ(ComPortAPI_SetReadingTimeoutInMs(300), 1);
    const std::string reply("Ready\r\n>>\x11\x13\x00\xff", 13);
    writeAll(unit_.master(), reply);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(read(kLargeRead), reply);
    EXPECT_GE(elapsedSince(start), 300ms);
}

TEST_F(SerialPortLayer, ReadEndsWhenTheCountArrivedAndTheRestWaitsForTheNext) {
    ASSERT_EQ(openPort(), 1);
    EXPECT_EQ(ComPortAPI_SetReadingTimeoutInMs(10000), 1);
    writeAll(unit_.master(), "abcdef");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(read(4), "abcd");
    EXPECT_EQ(read(2), "ef");
    EXPECT_LT(elapsedSince(start), 10000ms);
}

TEST_F(SerialPortLayer, WriteSendsEveryByteUntranslated) {
    ASSERT_EQ(openPort(), 1);
    const std::string frame("%%fw -p\n\r\x00\xff", 11);
    int written = -1;
    EXPECT_EQ(ComPortAPI_WriteCOM(frame.data(), static_cast<int>(frame.size()), &written), 1);
    EXPECT_EQ(written, static_cast<int>(frame.size()));
    EXPECT_EQ(readUntilQuiet(unit_.master()), frame);
}

TEST_F(SerialPortLayer, BytesSentWhileNoPortIsOpenAreNeverRead) {
    EXPECT_EQ(ComPortAPI_SetReadingTimeoutInMs(100), 0);
    writeAll(unit_.master(), "before the first open");
    ASSERT_EQ(openPort(), 1);
    EXPECT_EQ(read(kLargeRead), "");

    writeAll(unit_.master(), "while open");
    EXPECT_EQ(read(kLargeRead), "while open");

    EXPECT_EQ(ComPortAPI_CloseCOM(), 1);
    writeAll(unit_.master(), "between close and open");
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

TEST_F(SerialPortLayer, APortInUseCannotBeOpenedAgain) {
    ASSERT_EQ(openPort(), 1);
    EXPECT_EQ(platform::serialOpen("\\\\.\\COM3"), platform::kInvalidSerialHandle);
    EXPECT_EQ(ComPortAPI_CloseCOM(), 1);
    const platform::SerialHandle again = platform::serialOpen("\\\\.\\COM3");
    EXPECT_NE(again, platform::kInvalidSerialHandle);
    EXPECT_TRUE(platform::serialClose(again));
}

TEST(SerialPortNumbers, NumbersWithoutADeviceFailToOpen) {
    ComPortAPI_RestoreInitialState();
    // A device exists for COM1 so that only the number decides.
    PseudoTerminal unit;
    DeviceLink link("ttyS0", unit.slavePath());
    const struct {
        int port;
        const char* message;
    } cases[] = {
        {7, "ERROR: Opening COM7 failed !"},
        {0, "ERROR: Opening COM0 failed !"},
        {-1, "ERROR: Opening COM-1 failed !"},
        {97, "ERROR: Opening COM97 failed !"},
        {12345678, "ERROR: Opening COM12345678 failed !"},
        {-1234567, "ERROR: Opening COM-1234567 failed !"},
        {123456789, "ERROR: Opening COM123456789 failed !"},
        {INT_MIN, "ERROR: Opening COM-2147483648 failed !"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        StdoutCapture console;
        EXPECT_EQ(ComPortAPI_OpenCOM(c.port), 0);
        EXPECT_EQ(console.finish(), c.message);
        EXPECT_EQ(g_hCOM, platform::kInvalidSerialHandle);
    }
    ComPortAPI_RestoreInitialState();
}

TEST(SerialPortNumbers, EachRangeMapsToItsDevices) {
    ComPortAPI_RestoreInitialState();
    const struct {
        int port;
        const char* device;
    } cases[] = {
        {1, "ttyS0"},     {32, "ttyS31"},  {33, "ttyUSB0"},
        {64, "ttyUSB31"}, {65, "ttyACM0"}, {96, "ttyACM31"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        PseudoTerminal unit;
        DeviceLink link(c.device, unit.slavePath());
        StdoutCapture console;
        ASSERT_EQ(ComPortAPI_OpenCOM(c.port), 1);
        EXPECT_EQ(console.finish(), "");
        const std::string marker = std::to_string(c.port);
        int written = 0;
        EXPECT_EQ(ComPortAPI_WriteCOM(marker.data(), static_cast<int>(marker.size()), &written), 1);
        EXPECT_EQ(readUntilQuiet(unit.master()), marker);
        EXPECT_EQ(ComPortAPI_CloseCOM(), 1);
    }
}

}  // namespace
