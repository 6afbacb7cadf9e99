// The serial port layer's contract through the POSIX adapter, against a
// pseudo-terminal linked as COM3, on the steady clock.
#include <termios.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "PosixTestSupport.h"
#include "PtyLineRate.h"
#include "SerialPortContract.h"

namespace {

using namespace posix_test;

speed_t speedConstant(std::uint32_t rate) {
    switch (rate) {
        case 2400:
            return B2400;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            throw std::invalid_argument("no speed constant in the far side's table");
    }
}

class PtyFarSide {
  public:
    static constexpr int kPort = 3;
    // 0 would hang the line up; the largest value is no rate at all.
    static constexpr std::array<std::uint32_t, 2> kRefusedRates{0, 4294967295U};
    static constexpr std::chrono::microseconds kEarliest{0};
    // A loaded machine may wake a waiting reader late.
    static constexpr std::chrono::microseconds kLatest{std::chrono::milliseconds(250)};
    static constexpr bool kExclusiveOpen = true;
    static constexpr bool kDrivesCts = false;
    static constexpr bool kChangesLine = true;

    PtyFarSide() : link_("ttyS2", unit_.slavePath()) {}

    serial_contract::FarLine line() const {
        return {outputRate(unit_.slavePath()), (unit_.farSide().c_cflag & CRTSCTS) != 0};
    }
    void send(std::string_view bytes) const { writeAll(unit_.master(), bytes); }
    std::string receive() const { return readUntilQuiet(unit_.master()); }
    static std::chrono::microseconds now() {
        return std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    }
    void changeLine(std::uint32_t rate, bool ctsFlow) const {
        unit_.setFarSide(speedConstant(rate), ctsFlow);
    }

  private:
    PseudoTerminal unit_;
    DeviceLink link_;
};

}  // namespace

namespace serial_contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Posix, SerialPortContract, PtyFarSide);
}  // namespace serial_contract
