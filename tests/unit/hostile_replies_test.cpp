// Whole runs against units whose replies carry NULs and control bytes, and a
// port that never falls silent, on the simulated platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "SimLink.h"
#include "SimPlatform.h"
#include "SimRun.h"
#include "UnitModel.h"
#include "VendraFwUpgrade.h"

namespace {

namespace sim = platform::sim;
using sim::EventKind;
using sim::Micros;

constexpr Micros kMs = 1000;
constexpr int kUnitPort = 3;
const std::string kSuccessLine = "The update was successful, the unit is now operational\r\n";

// Passes everything through, but a reply of the unit that is exactly `from`
// arrives as `to`. The unit's bytes come as the line carries them, a few at a
// time: what could still become `from` is held back until it is complete.
class RewritingLine : public sim::FarEnd {
  public:
    RewritingLine(sim::FarEnd& unit, std::string from, std::string to)
        : unit_(unit), from_(std::move(from)), to_(std::move(to)) {}

    bool receive(Micros at, std::string_view bytes, sim::LineState line) override {
        return unit_.receive(at, bytes, line);
    }
    std::vector<sim::Arrival> transmit(Micros until, sim::LineState hostLine) override {
        std::vector<sim::Arrival> arrivals;
        for (sim::Arrival& arrival : unit_.transmit(until, hostLine)) {
            held_ += arrival.bytes;
            if (held_ == from_) {
                arrivals.push_back({arrival.at, to_});
                held_.clear();
            } else if (!from_.starts_with(held_)) {
                arrivals.push_back({arrival.at, std::move(held_)});
                held_.clear();
            }
        }
        return arrivals;
    }

  private:
    sim::FarEnd& unit_;
    std::string from_;
    std::string to_;
    std::string held_;
};

std::string withNul(std::string_view before, std::string_view after) {
    return std::string(before) + '\0' + std::string(after);
}

std::size_t largestWrite() {
    std::size_t largest = 0;
    for (const sim::Event& write : sim::events(EventKind::Write)) {
        largest = std::max(largest, write.text.size());
    }
    return largest;
}

struct HostileCase {
    const char* name;
    std::string from;
    std::string to;
    int status;
    std::string shown;  // on the console
    bool imagesSent;
};

class HostileReplies : public SimRun {};

// Before, each read counted up to its first NUL: "Ready\0 ERROR..." passed for
// "Ready", and "SUCCESS\0FAILED" for "SUCCESS".
TEST_F(HostileReplies, EveryByteOfAReplyCounts) {
    const unitsim::UnitConfig tx = unitsim::configFor(unitsim::Variant::Tx, 9600);
    const std::string probe(unitsim::kHelpVersionReply);
    const std::string identity(unitsim::kTxIdentity);
    const std::vector<HostileCase> cases{
        {"probe reply and a NUL", probe, withNul(probe, ""), -1,
         "\r\nOpening COM0....................ERROR: Opening COM0 failed !", false},
        {"version reply with a NUL after its fields", tx.versionReply,
         withNul("1.0.6 K620418 1.07 7", "\r\n>>"), 1,
         "Checking product .......... FAILED, Unknown product\r\n", false},
        {"version reply with ESC in the model word", tx.versionReply,
         "1.0.6 K62\x1b[2J 1.07 7\r\n>>", 0,
         "Checking fpga version ..................  K62\\x1B[2J 1.07  device:7\r\n", true},
        {"identity and a NUL", identity, withNul(identity, ""), 1,
         "Checking product .......... FAILED\r\n", false},
        {"Ready, a NUL and an error", "Ready", withNul("Ready", " ERROR: flash locked"), 1,
         "Preparing to Upload Programmable Logic ............ FAILED [Unit not ready]\r\n", false},
        {"SUCCESS, a NUL and FAILED", tx.successText, withNul("SUCCESS", "FAILED"), 1,
         "\r\nExpected : SUCCESS  received : SUCCESS\\x00FAILED\r\n", true},
        {"SUCCESS and a terminal control sequence", tx.successText, "SUCCESS\x1b[2J\x07\r\n", 1,
         "\r\nExpected : SUCCESS  received : SUCCESS\\x1B[2J\\x07\r\n\r\n", true},
        {"reboot prompt, a NUL and more", tx.rebootText, withNul(tx.rebootText, " ERROR"), 2,
         "100%\b\b\b\b100%\r\nPress any key to exit", true},
    };
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.name);
        startRow();
        unitsim::UnitModel unit(tx);
        unitsim::SimLink link(unit);
        RewritingLine line(link, c.from, c.to);
        sim::addSilentPort(1);
        sim::addUnitPort(kUnitPort, line);

        EXPECT_EQ(runVendraFwUpgrade(), c.status);

        const std::string console = sim::consoleText();
        EXPECT_NE(console.find(c.shown), std::string::npos) << sim::escape(console);
        EXPECT_EQ(console.find(kSuccessLine) != std::string::npos, c.status == 0);
        EXPECT_EQ(largestWrite() > 1000, c.imagesSent);
    }
}

// A device that streams without pause, a GPS receiver for instance.
class StreamingDevice : public sim::FarEnd {
  public:
    bool receive(Micros, std::string_view, sim::LineState) override { return true; }
    std::vector<sim::Arrival> transmit(Micros until, sim::LineState) override {
        std::vector<sim::Arrival> arrivals;
        for (; next_ <= until; next_ += 100 * kMs) {
            arrivals.push_back({next_, "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9*47\r\n"});
        }
        return arrivals;
    }

  private:
    Micros next_ = 0;
};

// Before, one probe on such a port lasted as long as the stream.
TEST_F(HostileReplies, DiscoveryPassesOverAPortThatNeverFallsSilent) {
    prepareBuffers();
    StreamingDevice gps;
    unitsim::UnitModel unit(unitsim::configFor(unitsim::Variant::Tx, 9600));
    unitsim::SimLink link(unit);
    sim::addUnitPort(1, gps);
    sim::addUnitPort(2, link);

    EXPECT_EQ(detectComPortAndBaudrate(), 1);
    EXPECT_EQ(gComPortNumber, 2);
    EXPECT_EQ(gBaudRate, 9600);

    Micros firstOpenOfCom2 = -1;
    for (const sim::Event& open : sim::events(EventKind::Open, 2)) {
        firstOpenOfCom2 = open.at;
        break;
    }
    // Six rates, two probes each, each probe eight reads of 500 ms: 48 s.
    EXPECT_EQ(sim::events(EventKind::Read, 1).size(), 6u * 2u * 8u);
    EXPECT_GT(firstOpenOfCom2, 48'000 * kMs);
    EXPECT_LE(firstOpenOfCom2, 50'000 * kMs);
}

}  // namespace
