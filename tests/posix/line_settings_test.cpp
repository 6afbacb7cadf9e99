// The line as the POSIX adapter leaves it: settings built from zero whatever
// the device held before, and every positive rate set exactly.
#include <gtest/gtest.h>
#include <termios.h>

#include <cstdint>
#include <string>

#include "ComPortAPI.h"
#include "LineRates.h"
#include "PortLockSupport.h"
#include "PosixTestSupport.h"

namespace {

using namespace posix_test;

constexpr int kPort = 3;
constexpr const char* kDevice = "ttyS2";

class LineSettings : public ::testing::Test {
  protected:
    LineSettings() : link_(kDevice, unit_.slavePath()) {}
    void SetUp() override { ComPortAPI_RestoreInitialState(); }
    void TearDown() override { ComPortAPI_RestoreInitialState(); }

    termios held() const {
        termios line{};
        check(::tcgetattr(unit_.master(), &line) == 0, "tcgetattr");
        return line;
    }

    CleanLockState locks_;
    PseudoTerminal unit_;
    DeviceLink link_;
};

TEST_F(LineSettings, WhatTheDeviceHeldBeforeIsNotInherited) {
    termios preset = held();
    preset.c_iflag |= IXON | IXOFF | IXANY | INPCK | ICRNL | INLCR | ISTRIP;
    preset.c_oflag |= OPOST | ONLCR;
    preset.c_lflag |= ECHO | ICANON | ISIG | IEXTEN;
    preset.c_cflag |= PARENB | CSTOPB | HUPCL;
    ASSERT_EQ(::tcsetattr(unit_.master(), TCSANOW, &preset), 0);

    ASSERT_EQ(ComPortAPI_OpenCOM(kPort), 1);
    const termios line = held();
    EXPECT_EQ(line.c_iflag, 0U);
    EXPECT_EQ(line.c_oflag, 0U);
    EXPECT_EQ(line.c_lflag, 0U);
    EXPECT_EQ(line.c_cflag & ~static_cast<tcflag_t>(CBAUD | CIBAUD),
              static_cast<tcflag_t>(CS8 | CREAD | CLOCAL | CRTSCTS));
    EXPECT_EQ(line.c_cc[VMIN], 1);
    EXPECT_EQ(line.c_cc[VTIME], 0);

    // Bytes pass both ways untranslated.
    const std::string bytes("\r\n\x11\x13\x7f\x03\xff", 7);
    int count = 0;
    EXPECT_EQ(ComPortAPI_WriteCOM(bytes.data(), static_cast<int>(bytes.size()), &count), 1);
    EXPECT_EQ(readUntilQuiet(unit_.master()), bytes);
    writeAll(unit_.master(), bytes);
    EXPECT_EQ(ComPortAPI_SetReadingTimeoutInMs(200), 1);
    char buffer[16] = {};
    EXPECT_EQ(ComPortAPI_ReadCOM(buffer, sizeof buffer, &count), 1);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(count)), bytes);
}

TEST_F(LineSettings, EveryPositiveRateIsSetExactly) {
    ASSERT_EQ(ComPortAPI_OpenCOM(kPort), 1);
    for (const std::uint32_t rate : {1200U, 2400U, 4800U, 9600U, 19200U, 38400U, 57600U, 115200U,
                                     14400U, 28800U, 56000U, 128000U, 256000U}) {
        SCOPED_TRACE(rate);
        EXPECT_EQ(ComPortAPI_SetBaudRate(static_cast<int>(rate)), 1);
        EXPECT_EQ(lineRatesOf(unit_.master()), (LineRates{rate, rate}));
    }
}

TEST_F(LineSettings, ZeroAndNegativeRatesAreRefusedAndTheLineStaysUp) {
    ASSERT_EQ(ComPortAPI_OpenCOM(kPort), 1);
    ASSERT_EQ(ComPortAPI_SetBaudRate(14400), 1);
    for (const int rate : {0, -1, -14400}) {
        SCOPED_TRACE(rate);
        EXPECT_EQ(ComPortAPI_SetBaudRate(rate), 0);
        EXPECT_EQ(lineRatesOf(unit_.master()), (LineRates{14400, 14400}));
        int count = 0;
        EXPECT_EQ(ComPortAPI_WriteCOM("up", 2, &count), 1);
        EXPECT_EQ(readUntilQuiet(unit_.master()), "up");
    }
}

}  // namespace
