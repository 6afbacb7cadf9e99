// The serial port layer's contract, the same for every adapter: a typed test
// suite over a far side, instantiated once per adapter.
//
// A far side type F stands for the unit's end of the port COM F::kPort and
// offers
//   FarLine line();                    the rate and CTS flow control in force,
//                                      as the far end sees them
//   void send(std::string_view);       bytes from the unit's end
//   std::string receive();             everything the program wrote since the
//                                      last call
//   std::chrono::microseconds now();   a clock: virtual for the sim adapter,
//                                      steady otherwise
//   void holdCtsOff(std::chrono::milliseconds);  with kDrivesCts only
//   void changeLine(std::uint32_t, bool);  with kChangesLine only: a setting
//                                      changed behind the program's back
// and the traits in which adapters really differ:
//   kRefusedRates   rates the device refuses (a std::array, maybe empty)
//   kExclusiveOpen  whether a second open of an open port fails (Wine lets it
//                   through; Windows itself does not)
//   kEarliest       how much sooner than asked a timed read may be seen to end
//                   (the clock's granularity)
//   kLatest         how much later than asked it may end
//   kDrivesCts      whether the far end can hold CTS off (a pseudo-terminal
//                   has no CTS line)
//   kChangesLine    whether the line can be changed behind the program's back
//                   (the sim adapter's line holds only what the program set)
// The far side is constructed before each case and destroyed after it.
#ifndef VENDRA_TESTS_SUPPORT_SERIALPORTCONTRACT_H
#define VENDRA_TESTS_SUPPORT_SERIALPORTCONTRACT_H

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ComPortAPI.h"
#include "SerialRecords.h"

namespace serial_contract {

struct FarLine {
    std::uint32_t baud = 0;
    bool ctsFlow = false;
};

// What the callers ask of every read: nearly the whole scratch buffer.
inline constexpr int kLargeRead = 1023999;
// The layer's settings before any setter call.
inline constexpr std::uint32_t kInitialRate = 9600;
inline constexpr bool kInitialCtsFlow = true;
inline constexpr std::chrono::milliseconds kInitialReadTimeout{500};

template <typename FarSide>
class SerialPortContract : public ::testing::Test {
  protected:
    using Micros = std::chrono::microseconds;

    void SetUp() override { ComPortAPI_RestoreInitialState(); }
    void TearDown() override { ComPortAPI_RestoreInitialState(); }

    static int openPort() { return ComPortAPI_OpenCOM(FarSide::kPort); }

    static std::string read(int count) {
        std::vector<char> buffer(static_cast<std::size_t>(count));
        int received = -1;
        EXPECT_EQ(ComPortAPI_ReadCOM(buffer.data(), count, &received), 1);
        return std::string(buffer.data(), static_cast<std::size_t>(std::max(received, 0)));
    }

    static bool write(std::string_view bytes) {
        int written = -1;
        const int result =
            ComPortAPI_WriteCOM(bytes.data(), static_cast<int>(bytes.size()), &written);
        EXPECT_EQ(written, result == 1 ? static_cast<int>(bytes.size()) : 0);
        return result == 1;
    }

    // Writes with CTS held off wait for it only while CTS flow control is on.
    void expectCtsHoldsWrites();

    // A silent read lasts the read time-out in force, `timeout`, within the
    // far side's clock.
    void expectSilentReadLasts(std::chrono::milliseconds timeout) {
        const Micros start = far_.now();
        EXPECT_EQ(read(kLargeRead), "");
        const Micros elapsed = far_.now() - start;
        EXPECT_GE(elapsed, Micros(timeout) - FarSide::kEarliest);
        EXPECT_LE(elapsed, Micros(timeout) + FarSide::kLatest);
    }

    void expectLine(std::uint32_t baud, bool ctsFlow) {
        const FarLine line = far_.line();
        EXPECT_EQ(line.baud, baud);
        EXPECT_EQ(line.ctsFlow, ctsFlow);
    }

    FarSide far_;
};

TYPED_TEST_SUITE_P(SerialPortContract);

TYPED_TEST_P(SerialPortContract, OpenAndCloseAndNothingWithoutAnOpenPort) {
    char buffer[8];
    int count = -1;
    EXPECT_EQ(ComPortAPI_ReadCOM(buffer, sizeof buffer, &count), 0);
    EXPECT_EQ(count, 0);
    count = -1;
    EXPECT_EQ(ComPortAPI_WriteCOM("x", 1, &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(ComPortAPI_CloseCOM(), 1);

    ASSERT_EQ(this->openPort(), 1);
    EXPECT_NE(g_hCOM, platform::kInvalidSerialHandle);
    EXPECT_NE(g_hCOM, platform::kNoSerialHandle);
    const std::string path = "\\\\.\\COM" + std::to_string(TypeParam::kPort);
    if constexpr (TypeParam::kExclusiveOpen) {
        EXPECT_EQ(platform::serialOpen(path.c_str()), platform::kInvalidSerialHandle);
    }

    EXPECT_EQ(ComPortAPI_CloseCOM(), 1);
    EXPECT_EQ(g_hCOM, platform::kNoSerialHandle);
    EXPECT_EQ(ComPortAPI_CloseCOM(), 1);
    EXPECT_EQ(ComPortAPI_ReadCOM(buffer, sizeof buffer, &count), 0);
    EXPECT_EQ(ComPortAPI_WriteCOM("x", 1, &count), 0);

    const platform::SerialHandle again = platform::serialOpen(path.c_str());
    EXPECT_NE(again, platform::kInvalidSerialHandle);
    EXPECT_TRUE(platform::serialClose(again));
    EXPECT_FALSE(platform::serialClose(again));
    EXPECT_FALSE(platform::serialPurge(again, PURGE_RXCLEAR | PURGE_TXCLEAR));
    EXPECT_FALSE(platform::serialEscape(again, SETDTR));
}

TYPED_TEST_P(SerialPortContract, OpenAppliesTheSettingsAndSettersChangeTheOpenLine) {
    ASSERT_EQ(this->openPort(), 1);
    this->expectLine(kInitialRate, kInitialCtsFlow);
    EXPECT_EQ(ComPortAPI_SetBaudRate(115200), 1);
    this->expectLine(115200, kInitialCtsFlow);
    EXPECT_EQ(ComPortAPI_SetHardwareFlowControl(0), 1);
    this->expectLine(115200, false);
    EXPECT_EQ(ComPortAPI_SetBaudRate(57600), 1);
    this->expectLine(57600, false);
    EXPECT_EQ(ComPortAPI_SetHardwareFlowControl(1), 1);
    this->expectLine(57600, true);
}

TYPED_TEST_P(SerialPortContract, RefusedRateFailsAndTheLineKeepsItsRate) {
    if constexpr (TypeParam::kRefusedRates.empty()) {
        GTEST_SKIP() << "the device takes every rate";
    }
    ASSERT_EQ(this->openPort(), 1);
    for (const std::uint32_t rate : TypeParam::kRefusedRates) {
        SCOPED_TRACE(rate);
        EXPECT_EQ(ComPortAPI_SetBaudRate(static_cast<int>(rate)), 0);
        // The layer keeps what it was asked for; the line keeps its rate.
        EXPECT_EQ(g_dcb.BaudRate, rate);
        this->expectLine(kInitialRate, kInitialCtsFlow);
    }
}

TYPED_TEST_P(SerialPortContract, SilentReadLastsExactlyOneTimeout) {
    ASSERT_EQ(this->openPort(), 1);
    this->expectSilentReadLasts(kInitialReadTimeout);
    EXPECT_EQ(ComPortAPI_SetReadingTimeoutInMs(1000), 1);
    this->expectSilentReadLasts(std::chrono::milliseconds(1000));
}

TYPED_TEST_P(SerialPortContract, ReadReturnsWhenItsCountHasArrived) {
    ASSERT_EQ(this->openPort(), 1);
    EXPECT_EQ(ComPortAPI_SetReadingTimeoutInMs(10000), 1);
    this->far_.send("abcdef");
    const auto start = this->far_.now();
    EXPECT_EQ(this->read(4), "abcd");
    EXPECT_EQ(this->read(2), "ef");
    EXPECT_LT(this->far_.now() - start, std::chrono::milliseconds(5000));

    // Fewer bytes than asked: what came, untranslated, after one time-out.
    EXPECT_EQ(ComPortAPI_SetReadingTimeoutInMs(300), 1);
    const std::string reply("Ready\r\n>>\x11\x13\x00\xff\n\r", 15);
    this->far_.send(reply);
    EXPECT_EQ(this->read(kLargeRead), reply);
}

TYPED_TEST_P(SerialPortContract, WritesGoOutWholeAndUntranslated) {
    ASSERT_EQ(this->openPort(), 1);
    std::string everyByte;
    for (int value = 0; value < 256; ++value) {
        everyByte += static_cast<char>(value);
    }
    const std::string frame = std::string("%%fw -p\n\r", 9) + everyByte;
    EXPECT_TRUE(this->write(frame));
    EXPECT_EQ(this->far_.receive(), frame);
    EXPECT_TRUE(this->write(std::string(4096, 'U')));
    EXPECT_EQ(this->far_.receive(), std::string(4096, 'U'));
}

TYPED_TEST_P(SerialPortContract, CtsHeldOffHoldsWritesOnlyWithFlowControl) {
    if constexpr (!TypeParam::kDrivesCts) {
        GTEST_SKIP() << "the far end has no CTS line to hold off";
    } else {
        this->expectCtsHoldsWrites();
    }
}

template <typename FarSide>
void SerialPortContract<FarSide>::expectCtsHoldsWrites() {
    using std::chrono::milliseconds;
    ASSERT_EQ(openPort(), 1);
    auto start = far_.now();
    far_.holdCtsOff(milliseconds(2000));
    EXPECT_TRUE(write("a"));
    const auto held = far_.now() - start;
    EXPECT_GE(held, milliseconds(2000) - FarSide::kEarliest);
    // The hold and one byte's time at the initial rate.
    EXPECT_LE(held, milliseconds(2002) + FarSide::kLatest);
    EXPECT_EQ(far_.receive(), "a");

    EXPECT_EQ(ComPortAPI_SetHardwareFlowControl(0), 1);
    start = far_.now();
    far_.holdCtsOff(milliseconds(2000));
    EXPECT_TRUE(write("b"));
    EXPECT_LT(far_.now() - start, milliseconds(1000));
    EXPECT_EQ(far_.receive(), "b");
}

TYPED_TEST_P(SerialPortContract, OpenDropsWhatArrivedWhileThePortWasClosed) {
    EXPECT_EQ(ComPortAPI_SetReadingTimeoutInMs(100), 0);
    this->far_.send("before the first open");
    ASSERT_EQ(this->openPort(), 1);
    EXPECT_EQ(this->read(kLargeRead), "");

    this->far_.send("while open");
    EXPECT_EQ(this->read(kLargeRead), "while open");

    EXPECT_EQ(ComPortAPI_CloseCOM(), 1);
    this->far_.send("between close and open");
    ASSERT_EQ(this->openPort(), 1);
    EXPECT_EQ(this->read(kLargeRead), "");
}

// An equal value succeeds without any call, so even without a port; a new
// value is stored, and applied only when a port is open.
TYPED_TEST_P(SerialPortContract, SettersStoreNewValuesAndSkipEqualOnes) {
    EXPECT_EQ(ComPortAPI_SetBaudRate(static_cast<int>(kInitialRate)), 1);
    EXPECT_EQ(ComPortAPI_SetReadingTimeoutInMs(static_cast<int>(kInitialReadTimeout.count())), 1);
    EXPECT_EQ(ComPortAPI_SetHardwareFlowControl(kInitialCtsFlow ? 1 : 0), 1);

    EXPECT_EQ(ComPortAPI_SetHardwareFlowControl(0), 0);
    EXPECT_EQ(ComPortAPI_SetBaudRate(19200), 0);
    EXPECT_EQ(ComPortAPI_SetReadingTimeoutInMs(200), 0);
    EXPECT_EQ(g_dcb.fOutxCtsFlow, 0U);
    EXPECT_EQ(g_dcb.BaudRate, 19200U);
    EXPECT_EQ(g_cto.ReadIntervalTimeout, 200U);
    EXPECT_EQ(g_cto.ReadTotalTimeoutConstant, 200U);

    ASSERT_EQ(this->openPort(), 1);
    this->expectLine(19200, false);
    this->expectSilentReadLasts(std::chrono::milliseconds(200));

    if constexpr (TypeParam::kChangesLine) {
        // Equal values apply nothing: a change behind the layer's back stays.
        this->far_.changeLine(2400, true);
        EXPECT_EQ(ComPortAPI_SetBaudRate(19200), 1);
        EXPECT_EQ(ComPortAPI_SetHardwareFlowControl(0), 1);
        this->expectLine(2400, true);
    }
}

TYPED_TEST_P(SerialPortContract, ReopenAppliesTheStoredSettings) {
    ASSERT_EQ(this->openPort(), 1);
    EXPECT_EQ(ComPortAPI_SetBaudRate(115200), 1);
    EXPECT_EQ(ComPortAPI_SetHardwareFlowControl(0), 1);
    EXPECT_EQ(ComPortAPI_SetReadingTimeoutInMs(300), 1);
    EXPECT_EQ(ComPortAPI_CloseCOM(), 1);
    if constexpr (TypeParam::kChangesLine) {
        this->far_.changeLine(kInitialRate, true);
    }
    ASSERT_EQ(this->openPort(), 1);
    this->expectLine(115200, false);
    this->expectSilentReadLasts(std::chrono::milliseconds(300));
}

REGISTER_TYPED_TEST_SUITE_P(SerialPortContract, OpenAndCloseAndNothingWithoutAnOpenPort,
                            OpenAppliesTheSettingsAndSettersChangeTheOpenLine,
                            RefusedRateFailsAndTheLineKeepsItsRate,
                            SilentReadLastsExactlyOneTimeout, ReadReturnsWhenItsCountHasArrived,
                            WritesGoOutWholeAndUntranslated,
                            CtsHeldOffHoldsWritesOnlyWithFlowControl,
                            OpenDropsWhatArrivedWhileThePortWasClosed,
                            SettersStoreNewValuesAndSkipEqualOnes, ReopenAppliesTheStoredSettings);

}  // namespace serial_contract

#endif
