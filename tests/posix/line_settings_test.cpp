// The line as the POSIX adapter leaves it: settings built from zero whatever
// the device held before, and every positive rate set exactly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ComPortAPI.h"
#include "LineRates.h"
#include "LineSettings.h"
#include "LinkedPortTest.h"
#include "PortLockSupport.h"
#include "PosixTestSupport.h"

namespace {

using namespace posix_test;

class LineSettings : public LinkedPortTest {
  protected:
    termios held() const {
        termios line{};
        check(::tcgetattr(unit_.master(), &line) == 0, "tcgetattr");
        return line;
    }

    CleanLockState locks_;
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

// Record codes of the line-settings record.
constexpr std::uint8_t kOddParity = 1;
constexpr std::uint8_t kEvenParity = 2;
constexpr std::uint8_t kMarkParity = 3;
constexpr std::uint8_t kOneAndAHalfStopBits = 1;
constexpr std::uint8_t kTwoStopBits = 2;

constexpr tcflag_t kFraming = CSIZE | PARENB | PARODD | CSTOPB;

DCB framed(std::uint8_t byteSize, std::uint8_t parity, std::uint8_t stopBits) {
    DCB settings{};
    settings.BaudRate = 9600;
    settings.ByteSize = byteSize;
    settings.Parity = parity;
    settings.StopBits = stopBits;
    return settings;
}

// Character size, parity and stop bits as the record codes them; a value the
// record cannot name gives no line at all.
TEST(LineFraming, RecordCodesBecomeTerminalFlags) {
    struct Case {
        const char* name;
        DCB settings;
        std::optional<tcflag_t> framing;
    };
    const std::vector<Case> cases{
        {"5 bits, no parity, 1 stop bit", framed(5, NOPARITY, ONESTOPBIT), CS5},
        {"6 bits, odd parity", framed(6, kOddParity, ONESTOPBIT), CS6 | PARENB | PARODD},
        {"7 bits, even parity, 2 stop bits", framed(7, kEvenParity, kTwoStopBits),
         CS7 | PARENB | CSTOPB},
        {"8 bits, no parity, 1 stop bit", framed(8, NOPARITY, ONESTOPBIT), CS8},
        {"4 bits", framed(4, NOPARITY, ONESTOPBIT), std::nullopt},
        {"9 bits", framed(9, NOPARITY, ONESTOPBIT), std::nullopt},
        {"mark parity", framed(8, kMarkParity, ONESTOPBIT), std::nullopt},
        {"1.5 stop bits", framed(8, NOPARITY, kOneAndAHalfStopBits), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<std::uint32_t> flags = platform::posix::controlFlagsOf(c.settings);
        ASSERT_EQ(flags.has_value(), c.framing.has_value());
        if (flags) {
            EXPECT_EQ(*flags & kFraming, *c.framing);
            EXPECT_EQ(*flags & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
        }
    }
}

// The settings are read back after they are applied. A pseudo-terminal holds
// two stop bits but makes every line 8 bits without parity: what it did not
// take counts as refused, not as set.
TEST_F(LineSettings, SettingsTheDeviceDoesNotHoldAreRefused) {
    struct Case {
        const char* name;
        DCB settings;
        bool applied;
    };
    const std::vector<Case> cases{
        {"8 bits, 2 stop bits", framed(8, NOPARITY, kTwoStopBits), true},
        {"7 bits", framed(7, NOPARITY, ONESTOPBIT), false},
        {"even parity", framed(8, kEvenParity, ONESTOPBIT), false},
        {"9 bits", framed(9, NOPARITY, ONESTOPBIT), false},
    };
    const Fd line(::open(unit_.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_GE(line.get(), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::posix::applyLineSettings(line.get(), c.settings), c.applied);
        if (c.applied) {
            EXPECT_EQ(held().c_cflag & kFraming, static_cast<tcflag_t>(CS8 | CSTOPB));
        }
    }
}

}  // namespace
