// The identification phase of updateFirmware against the unit model, in
// virtual time: the version lines, the device test and the identity tests.
// Units that pass never answer "%fw -l", so each run stops right after the
// identification.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "SimLink.h"
#include "SimPlatform.h"
#include "SimRun.h"
#include "SystemTexts.h"
#include "UnitModel.h"
#include "VendraFwUpgrade.h"

namespace {

using namespace system_texts;

namespace sim = platform::sim;
using sim::EventKind;
using unitsim::Fault;
using unitsim::UnitConfig;

constexpr int kPort = 3;
constexpr sim::Micros kMs = 1000;

// Both version lines for the values a version reply carries.
std::string versionLines(int fwVer, int fwRev, int fwSub, const char* model, int fpgaVer,
                         int fpgaRev, int device) {
    char firmware[128];
    std::snprintf(firmware, sizeof firmware,
                  "Checking firmware version ..............  %d.%02d.%02d \r\n", fwVer, fwRev,
                  fwSub);
    char fpga[128];
    std::snprintf(fpga, sizeof fpga,
                  "Checking fpga version ..................  %s %d.%02d  device:%d\r\n", model,
                  fpgaVer, fpgaRev, device);
    return std::string(firmware) + fpga;
}

// What follows the product label for a unit taken as TX or RX.
std::string identified(const char* variant, const std::string& identity) {
    return std::string(variant) + " OK\r\n" + identity + "\r\n";
}

struct IdentificationCase {
    const char* name;
    unitsim::Variant variant;
    std::function<void(UnitConfig&)> configure;
    std::string versions;  // the version lines expected, or none
    std::string outcome;   // what follows the product label
    bool identifies;       // the run goes on after the outcome
    int identityQueries;   // "%fw -p" frames the unit receives
};

void fault(UnitConfig& config, Fault f) {
    unitsim::applyFault(config, f);
}

class Identification : public SimRun {
  protected:
    void SetUp() override {
        SimRun::SetUp();
        prepareBuffers();
    }
};

TEST_F(Identification, OutcomesByUnitAndReply) {
    const std::string defaultVersions = versionLines(1, 0, 6, "K620418", 1, 7, 7);
    const auto none = [](UnitConfig&) {};
    const auto versionReply = [](std::string text) {
        return [text](UnitConfig& c) { c.versionReply = text; };
    };
    const std::string unknown = kUnknownProduct;
    const std::vector<IdentificationCase> cases{
        {"TX unit", unitsim::Variant::Tx, none, defaultVersions, identified("TX", kTxIdentity),
         true, 1},
        {"RX unit: asked twice", unitsim::Variant::Rx, none, defaultVersions,
         identified("RX", kRxIdentity), true, 2},
        {"device code 3", unitsim::Variant::Tx, [](UnitConfig& c) { fault(c, Fault::DeviceCode3); },
         versionLines(1, 0, 6, "K620418", 1, 7, 3), unknown, false, 0},
        {"version reply over several lines", unitsim::Variant::Tx,
         [](UnitConfig& c) { fault(c, Fault::VersionMultiLine); }, defaultVersions,
         identified("TX", kTxIdentity), true, 1},
        {"other numbers, two-digit revisions", unitsim::Variant::Tx,
         versionReply("12.34.5 AB 2.10 7\r\n>>"), versionLines(12, 34, 5, "AB", 2, 10, 7),
         identified("TX", kTxIdentity), true, 1},
        {"version reply with six fields", unitsim::Variant::Tx,
         [](UnitConfig& c) { fault(c, Fault::VersionFewerFields); }, "", unknown, false, 0},
        {"version reply cut after two fields", unitsim::Variant::Tx,
         versionReply("1.0 K620418 1.07 7\r\n>>"), "", unknown, false, 0},
        {"no version reply", unitsim::Variant::Tx, versionReply(""), "", unknown, false, 0},
        {"signs and white space the reading takes", unitsim::Variant::Tx,
         versionReply("+1.0.6\t K620418 \r\n 1.-7 +7\r\n>>"),
         versionLines(1, 0, 6, "K620418", 1, -7, 7), identified("TX", kTxIdentity), true, 1},
        {"numbers at the ends of the int range", unitsim::Variant::Tx,
         versionReply("2147483647.0.-2147483648 K620418 1.07 7\r\n>>"),
         versionLines(2147483647, 0, -2147483647 - 1, "K620418", 1, 7, 7),
         identified("TX", kTxIdentity), true, 1},
        {"device code that wraps to 7 in 32 bits", unitsim::Variant::Tx,
         versionReply("1.0.6 K620418 1.07 4294967303\r\n>>"), "", unknown, false, 0},
        {"device code one above the int range", unitsim::Variant::Tx,
         versionReply("1.0.6 K620418 1.07 2147483648\r\n>>"), "", unknown, false, 0},
        {"firmware number that wraps to 1 in 32 bits", unitsim::Variant::Tx,
         versionReply("4294967297.0.6 K620418 1.07 7\r\n>>"), "", unknown, false, 0},
        {"sign without digits", unitsim::Variant::Tx, versionReply("1.0.6 K620418 1.07 +\r\n>>"),
         "", unknown, false, 0},
        {"model word of 8 characters", unitsim::Variant::Tx,
         versionReply("1.0.6 K6204189 1.07 7\r\n>>"), "", unknown, false, 0},
        {"model word of 11 characters", unitsim::Variant::Tx,
         [](UnitConfig& c) { fault(c, Fault::VersionLongModel); }, "", unknown, false, 0},
        {"version reply near the end of the 1000 ms read", unitsim::Variant::Tx,
         [](UnitConfig& c) { c.replyDelay = 900 * kMs; }, defaultVersions,
         identified("TX", kTxIdentity), true, 1},
        {"version reply after the 1000 ms read", unitsim::Variant::Tx,
         [](UnitConfig& c) { c.replyDelay = 1100 * kMs; }, "", unknown, false, 0},
        {"identity text with one character more", unitsim::Variant::Tx,
         [](UnitConfig& c) { fault(c, Fault::IdentityOneMore); }, defaultVersions, "FAILED\r\n",
         false, 2},
        {"other identity text", unitsim::Variant::Tx,
         [](UnitConfig& c) { fault(c, Fault::WrongIdentity); }, defaultVersions, "FAILED\r\n",
         false, 2},
        {"identity in two pieces", unitsim::Variant::Tx,
         [](UnitConfig& c) { fault(c, Fault::SplitReply); }, defaultVersions,
         identified("TX", kTxIdentity), true, 1},
    };
    for (const IdentificationCase& c : cases) {
        SCOPED_TRACE(c.name);
        startRow();
        UnitConfig config = unitsim::configFor(c.variant, 9600);
        config.answersReady = false;
        c.configure(config);
        unitsim::UnitModel unit(config);
        unitsim::SimLink link(unit);
        sim::addUnitPort(kPort, link);
        openPort(kPort, 9600, true);

        EXPECT_EQ(updateFirmware(), 0);

        const std::string console = sim::consoleText();
        const std::string expected = c.versions + kProductLabel + c.outcome;
        if (c.identifies) {
            EXPECT_TRUE(console.starts_with(expected))
                << sim::escape(console) << "\nexpected start: " << sim::escape(expected);
            EXPECT_NE(console, expected) << "the run goes on after the identification";
        } else {
            EXPECT_EQ(console, expected) << sim::escape(console);
            EXPECT_EQ(gHexFPGA_Code, nullptr);
        }

        int identityQueries = 0;
        for (const unitsim::UnitModel::Frame& frame : unit.frames()) {
            identityQueries += frame.command == "%fw -p" ? 1 : 0;
        }
        EXPECT_EQ(identityQueries, c.identityQueries);
        ASSERT_FALSE(unit.frames().empty());
        EXPECT_EQ(unit.frames().front().command, "%fw -v");
        EXPECT_TRUE(unit.violations().empty());
        EXPECT_EQ(unit.garbageBytes(), 0u);

        // Every read of the phase lasts the 1000 ms read time-out.
        const std::size_t phaseReads = c.identityQueries * 2 + 1;
        const std::vector<sim::Event> reads = sim::events(EventKind::Read, kPort);
        ASSERT_GE(reads.size(), phaseReads);
        for (std::size_t i = 0; i < phaseReads; ++i) {
            EXPECT_EQ(reads[i].duration, 1000 * kMs) << "read " << i;
        }
    }
}

// Every frame of the phase goes out at the unit's rate with CTS flow control
// on, as the program entry leaves the port.
TEST_F(Identification, FramesGoOutAtTheOpenRateWithCtsFlowControl) {
    UnitConfig config = unitsim::configFor(unitsim::Variant::Rx, 57600);
    config.answersReady = false;
    unitsim::UnitModel unit(config);
    unitsim::SimLink link(unit);
    sim::addUnitPort(kPort, link);
    openPort(kPort, 57600, true);

    updateFirmware();
    ASSERT_GE(unit.frames().size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(unit.frames()[i].line, (unitsim::Line{57600, true})) << i;
    }
    EXPECT_EQ(unit.frames()[0].command, "%fw -v");
    EXPECT_EQ(unit.frames()[1].command, "%fw -p");
    EXPECT_EQ(unit.frames()[2].command, "%fw -p");
}

}  // namespace
