// The serial port layer's contract over the simulated platform, on its
// virtual clock: timed reads last exactly their time-out.
#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "ScriptedFarEnd.h"
#include "SerialPortContract.h"
#include "SimPlatform.h"

namespace {

namespace sim = platform::sim;

class SimFarSide {
  public:
    static constexpr int kPort = 3;
    static constexpr std::array<std::uint32_t, 3> kRefusedRates{0, 12345, 4294967295U};
    static constexpr std::chrono::microseconds kEarliest{0};
    static constexpr std::chrono::microseconds kLatest{0};
    static constexpr bool kExclusiveOpen = true;
    static constexpr bool kDrivesCts = true;
    static constexpr bool kChangesLine = false;

    SimFarSide() {
        sim::reset();
        sim::addUnitPort(kPort, end_);
    }
    SimFarSide(const SimFarSide&) = delete;
    SimFarSide& operator=(const SimFarSide&) = delete;
    ~SimFarSide() { sim::reset(); }

    serial_contract::FarLine line() const {
        const auto line = sim::openPortLine(kPort);
        return line ? serial_contract::FarLine{line->baud, line->ctsFlow}
                    : serial_contract::FarLine{};
    }
    void send(std::string_view bytes) { end_.sendAt(sim::now(), std::string(bytes)); }
    std::string receive() {
        std::string fresh = end_.received().substr(taken_);
        taken_ = end_.received().size();
        return fresh;
    }
    static std::chrono::microseconds now() { return std::chrono::microseconds(sim::now()); }
    void holdCtsOff(std::chrono::milliseconds duration) {
        end_.holdCtsOffUntil(sim::now() + std::chrono::microseconds(duration).count());
    }

  private:
    ScriptedFarEnd end_;
    std::size_t taken_ = 0;
};

}  // namespace

namespace serial_contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, SerialPortContract, SimFarSide);
}  // namespace serial_contract
