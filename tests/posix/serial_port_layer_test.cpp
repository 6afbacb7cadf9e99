// The serial port layer through the POSIX adapter, against pseudo-terminals
// linked as serial devices: what only this adapter shows (termios, the device
// names, rates without a speed constant). The contract all adapters keep is in
// serial_contract_posix_test.cpp.
#include <gtest/gtest.h>
#include <termios.h>

#include <chrono>
#include <climits>
#include <optional>
#include <string>
#include <thread>

#include "ComPortAPI.h"
#include "LinkedPortTest.h"
#include "PosixTestSupport.h"
#include "SerialRecords.h"

namespace {

using namespace posix_test;

class SerialPortLayer : public LinkedPortTest {
  protected:
    int openPort(int port = kPort) {
        StdoutCapture console;
        const int result = ComPortAPI_OpenCOM(port);
        EXPECT_EQ(console.finish(), "");
        return result;
    }
};

TEST_F(SerialPortLayer, OpensARawEightNoneOneLine) {
    ASSERT_EQ(openPort(), 1);
    const termios line = unit_.farSide();
    EXPECT_EQ(cfgetispeed(&line), cfgetospeed(&line));
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB), 0U);
    EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0U);
    EXPECT_EQ(line.c_oflag & OPOST, 0U);
    EXPECT_EQ(line.c_iflag & (ICRNL | INLCR | IXON | IXOFF), 0U);
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

// The far side closes while a read waits: the read fails at once instead of
// running to its time-out, and so does every write after it.
TEST(SerialPortLineDrop, ReadAndWriteFailWhenTheFarSideCloses) {
    using namespace std::chrono_literals;
    constexpr int kReadTimeoutMs = 3000;
    ComPortAPI_RestoreInitialState();
    std::optional<PseudoTerminal> unit(std::in_place);
    const DeviceLink link(kPortDevice, unit->slavePath());
    ASSERT_EQ(ComPortAPI_OpenCOM(kPort), 1);
    ASSERT_EQ(ComPortAPI_SetReadingTimeoutInMs(kReadTimeoutMs), 1);

    std::thread farSide([&unit] {
        std::this_thread::sleep_for(200ms);
        unit.reset();
    });
    char buffer[16] = {};
    int count = -1;
    const auto start = std::chrono::steady_clock::now();
    const int readResult = ComPortAPI_ReadCOM(buffer, sizeof buffer, &count);
    const auto elapsed = elapsedSince(start);
    farSide.join();
    EXPECT_EQ(readResult, 0);
    EXPECT_EQ(count, 0);
    EXPECT_LT(elapsed, std::chrono::milliseconds(kReadTimeoutMs / 2));

    count = -1;
    EXPECT_EQ(ComPortAPI_WriteCOM("%%", 2, &count), 0);
    EXPECT_EQ(count, 0);
    ComPortAPI_RestoreInitialState();
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
