// Port and baud-rate discovery on the simulated platform, in virtual time.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ComPortAPI.h"
#include "ScriptedFarEnd.h"
#include "SerialRecords.h"
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
using sim::Micros;

constexpr Micros kMs = 1000;
const std::vector<std::uint32_t> kRates{115200, 9600, 57600, 4800, 2400, 1200};

// The rate each successful open of `port` applied, in order.
std::vector<std::uint32_t> ratesOpened(int port) {
    std::vector<std::uint32_t> rates;
    for (const sim::Event& state : sim::events(EventKind::State, port)) {
        if (state.ok) {
            rates.push_back(state.line.baud);
        }
    }
    return rates;
}

// The ports of every open attempt, in order.
std::vector<std::pair<int, bool>> openAttempts() {
    std::vector<std::pair<int, bool>> attempts;
    for (const sim::Event& open : sim::events(EventKind::Open)) {
        attempts.emplace_back(open.port, open.ok);
    }
    return attempts;
}

// The rate and CTS state of `port` when it is open.
std::optional<std::pair<std::uint32_t, bool>> openLine(int port) {
    const std::optional<sim::LineState> line = sim::openPortLine(port);
    if (!line) {
        return std::nullopt;
    }
    return std::pair{line->baud, line->ctsFlow};
}

std::string probes(int count) {
    std::string frames;
    for (int i = 0; i < count; ++i) {
        frames += kProbeFrame;
    }
    return frames;
}

class Discovery : public SimRun {
  protected:
    void SetUp() override {
        SimRun::SetUp();
        prepareBuffers();
        // The program entry clears CTS flow control before discovery.
        ComPortAPI_SetHardwareFlowControl(0);
    }
};

// COM1 present without a unit, COM2 absent, the unit on COM3 at 9600.
TEST_F(Discovery, FindsTheUnitOnThirdPortAtSecondRate) {
    sim::addSilentPort(1);
    unitsim::UnitModel unit(unitsim::configFor(unitsim::Variant::Tx, 9600));
    unitsim::SimLink link(unit);
    sim::addUnitPort(3, link);

    EXPECT_EQ(detectComPortAndBaudrate(), 1);
    EXPECT_EQ(gComPortNumber, 3);
    EXPECT_EQ(gBaudRate, 9600);
    EXPECT_EQ(openLine(3), std::pair(9600u, false));
    EXPECT_FALSE(sim::openPortLine(1).has_value());
    EXPECT_EQ(sim::consoleText(), "");

    // COM1: the existence test, then an open per rate; COM2 fails the
    // existence test; COM3: the existence test, 115200, 9600.
    std::vector<std::pair<int, bool>> expectedOpens{{1, true}};
    for (std::size_t i = 0; i < kRates.size(); ++i) {
        expectedOpens.emplace_back(1, true);
    }
    expectedOpens.insert(expectedOpens.end(), {{2, false}, {3, true}, {3, true}, {3, true}});
    EXPECT_EQ(openAttempts(), expectedOpens);
    EXPECT_EQ(ratesOpened(1), kRates);
    EXPECT_EQ(ratesOpened(3), (std::vector<std::uint32_t>{115200, 9600}));

    // Twelve probes on COM1, each waiting one 500 ms read time-out.
    EXPECT_EQ(sim::bytesSent(1), probes(12));
    const std::vector<sim::Event> reads = sim::events(EventKind::Read, 1);
    ASSERT_EQ(reads.size(), 12u);
    for (const sim::Event& read : reads) {
        EXPECT_EQ(read.duration, 500 * kMs);
        EXPECT_EQ(read.text, "");
    }
    // Nothing else on COM1 takes time but the writes of the probes.
    Micros writing = 0;
    for (const sim::Event& write : sim::events(EventKind::Write, 1)) {
        writing += write.duration;
    }
    const Micros com1Start = sim::events(EventKind::Open, 1).front().at;
    const Micros com2Test = sim::events(EventKind::Open, 2).front().at;
    EXPECT_EQ(com2Test - com1Start, 12 * 500 * kMs + writing);

    // COM3: two probes at 115200 that the unit cannot read, one at 9600.
    EXPECT_EQ(sim::bytesSent(3), probes(3));
    ASSERT_EQ(unit.frames().size(), 1u);
    EXPECT_EQ(unit.frames()[0].command, "%help -c version");
    EXPECT_EQ(unit.frames()[0].line, (unitsim::Line{9600, false}));
    EXPECT_EQ(unit.garbageBytes(), 2 * kProbeFrame.size());
    EXPECT_TRUE(unit.violations().empty());
}

struct UnitPortCase {
    const char* name;
    int port;
    std::uint32_t baud;
    bool secondProbeOnly;
    int result;
    int probesOnUnitPort;
};

TEST_F(Discovery, WhereAndWhenTheUnitIsFound) {
    const std::vector<UnitPortCase> cases{
        {"first probe at the first rate", 1, 115200, false, 1, 1},
        {"second probe at a rate", 1, 115200, true, 1, 2},
        {"second probe at the last rate", 32, 1200, true, 1, 12},
        {"COM33 is never probed", 33, 9600, false, 0, 0},
    };
    for (const UnitPortCase& c : cases) {
        SCOPED_TRACE(c.name);
        startRow();
        ComPortAPI_SetHardwareFlowControl(0);
        gComPortNumber = -5;
        gBaudRate = -5;
        unitsim::UnitConfig config = unitsim::configFor(unitsim::Variant::Tx, c.baud);
        config.ignoreFirstProbe = c.secondProbeOnly;
        unitsim::UnitModel unit(config);
        unitsim::SimLink link(unit);
        sim::addUnitPort(c.port, link);

        EXPECT_EQ(detectComPortAndBaudrate(), c.result);
        EXPECT_EQ(sim::bytesSent(c.port), probes(c.probesOnUnitPort));
        if (c.result == 1) {
            EXPECT_EQ(gComPortNumber, c.port);
            EXPECT_EQ(gBaudRate, static_cast<std::int32_t>(c.baud));
            EXPECT_EQ(openLine(c.port), std::pair(c.baud, false));
        } else {
            EXPECT_EQ(gComPortNumber, 0);
            EXPECT_EQ(gBaudRate, 0);
            EXPECT_FALSE(sim::openPortLine(c.port).has_value());
            // Only COM1 to COM32 are tried.
            ASSERT_EQ(openAttempts().size(), 32u);
            EXPECT_EQ(openAttempts().back().first, 32);
        }
    }
}

// A far end on COM1 that answers every probe with a given text.
TEST_F(Discovery, OnlyTheExactProbeReplyCounts) {
    const std::string exact = kProbeReply;
    struct Case {
        const char* name;
        std::string reply;
        int result;
    };
    const std::vector<Case> cases{
        {"exact", exact, 1},
        {"line end after the first word as CR LF", "version\r\n" + exact.substr(9), 0},
        {"prompt cut to one character", exact.substr(0, exact.size() - 1), 0},
        {"one character more", exact + " ", 0},
        {"one letter changed", "Version" + exact.substr(7), 0},
        {"nothing after the word", "version", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startRow();
        ComPortAPI_SetHardwareFlowControl(0);
        ScriptedFarEnd unit({{20 * kMs, c.reply}});
        sim::addUnitPort(1, unit);

        EXPECT_EQ(detectComPortAndBaudrate(), c.result);
        EXPECT_EQ(sim::bytesSent(1), probes(c.result == 1 ? 1 : 12));
        EXPECT_EQ(gComPortNumber, c.result == 1 ? 1 : 0);
        EXPECT_EQ(g_dcb.BaudRate, c.result == 1 ? 115200u : 1200u);
    }
}

TEST_F(Discovery, NoPortAtAllFailsAtOnceAndLeavesTheStoredRate) {
    gComPortNumber = 7;
    gBaudRate = 4800;
    EXPECT_EQ(detectComPortAndBaudrate(), 0);
    EXPECT_EQ(sim::now(), 0);
    EXPECT_EQ(gComPortNumber, 0);
    EXPECT_EQ(gBaudRate, 0);
    EXPECT_EQ(g_dcb.BaudRate, 9600u);
    EXPECT_EQ(openAttempts().size(), 32u);
}

// A port in use by another program is passed over like a missing one.
TEST_F(Discovery, BusyPortIsPassedOver) {
    sim::addBusyPort(1);
    unitsim::UnitModel unit(unitsim::configFor(unitsim::Variant::Tx, 4800));
    unitsim::SimLink link(unit);
    sim::addUnitPort(2, link);

    EXPECT_EQ(detectComPortAndBaudrate(), 1);
    EXPECT_EQ(gComPortNumber, 2);
    EXPECT_EQ(gBaudRate, 4800);
    EXPECT_EQ(sim::events(EventKind::Open, 1).size(), 1u);
}

// A port that passed the existence test and then cannot be opened at a rate
// (its driver refuses that rate) shows the configuration error; the search
// goes on at the next rate.
TEST_F(Discovery, RateThePortRefusesIsPassedOver) {
    struct Case {
        const char* name;
        std::uint32_t unitRate;
        std::uint32_t refusedRate;
        int result;
        std::vector<std::uint32_t> ratesProbed;
    };
    const std::vector<Case> cases{
        {"the unit at a later rate", 9600, 115200, 1, {9600}},
        {"the unit at the refused rate", 9600, 9600, 0, {115200, 57600, 4800, 2400, 1200}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startRow();
        ComPortAPI_SetHardwareFlowControl(0);
        unitsim::UnitModel unit(unitsim::configFor(unitsim::Variant::Tx, c.unitRate));
        unitsim::SimLink link(unit);
        sim::addUnitPort(1, link);
        sim::refuseRate(1, c.refusedRate);

        EXPECT_EQ(detectComPortAndBaudrate(), c.result);
        EXPECT_EQ(sim::consoleText(), "ERROR: COM1 configuration failed !");
        EXPECT_EQ(ratesOpened(1), c.ratesProbed);
        EXPECT_EQ(gComPortNumber, c.result == 1 ? 1 : 0);
        EXPECT_EQ(gBaudRate, c.result == 1 ? static_cast<std::int32_t>(c.unitRate) : 0);
        if (c.result == 1) {
            EXPECT_EQ(openLine(1), std::pair(c.unitRate, false));
        }
    }
}

}  // namespace
