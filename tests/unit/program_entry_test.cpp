// The whole console run on the simulated platform, byte for byte: discovery
// or the manual dialogue, the update sequence on the settled port, the final
// message and the exit status.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ComPortAPI.h"
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

const std::string kAskPortAfterFailure = "FAILED" + kAskPort;
// A unit whose programmable-logic device is refused: the update sequence
// ends after the version query.
const std::string kRefusedUnit =
    std::string("Checking firmware version ..............  1.00.06 \r\n") +
    "Checking fpga version ..................  K620418 1.07  device:3\r\n" + kProductLabel +
    kUnknownProduct;

std::string opening(int port) {
    return "\r\nOpening COM" + std::to_string(port) + "....................";
}
std::string askRate(int rate) {
    return std::string("OK\r\n") + kAskRate + "\r\nSetting baud rate at " + std::to_string(rate) +
           "..........";
}

class ProgramEntry : public SimRun {};

struct EntryCase {
    const char* name;
    std::optional<int> silentPort;
    std::optional<int> unitPort;  // a unit at 9600 that reports device code 3
    std::string input;
    std::string console;
    int status;
};

TEST_F(ProgramEntry, RunsEndAtTheKeyPressWithTheirStatus) {
    const std::vector<EntryCase> cases{
        {"operator's port refused", std::nullopt, std::nullopt, "7\n",
         kBanner + kAskPortAfterFailure + opening(7) + "ERROR: Opening COM7 failed !" +
             kPressAnyKey,
         -1},
        {"operator's rate refused", 40, std::nullopt, "40\n12345\n",
         kBanner + kAskPortAfterFailure + opening(40) + askRate(12345) + kPressAnyKey, -1},
        {"operator's port and rate accepted", std::nullopt, 40, "40\n9600\n",
         kBanner + kAskPortAfterFailure + opening(40) + askRate(9600) + "OK\r\n" + kRefusedUnit +
             kUpdateFailed + kPressAnyKey,
         1},
        {"unit found by discovery: no questions", std::nullopt, 3, "",
         kBanner + "OK\r\n" + "COM PORT Number : 3" + "\r\nBaud rate       : 9600 \r\n\r\n" +
             kRefusedUnit + kUpdateFailed + kPressAnyKey,
         1},
    };
    for (const EntryCase& c : cases) {
        SCOPED_TRACE(c.name);
        startRow();
        unitsim::UnitConfig config = unitsim::configFor(unitsim::Variant::Tx, 9600);
        unitsim::applyFault(config, unitsim::Fault::DeviceCode3);
        unitsim::UnitModel unit(config);
        unitsim::SimLink link(unit);
        if (c.silentPort) {
            sim::addSilentPort(*c.silentPort);
        }
        if (c.unitPort) {
            sim::addUnitPort(*c.unitPort, link);
        }
        sim::setConsoleInput(c.input);

        EXPECT_EQ(runVendraFwUpgrade(), c.status);

        EXPECT_EQ(sim::consoleText(), c.console) << sim::escape(sim::consoleText());
        ASSERT_FALSE(sim::transcript().empty());
        EXPECT_EQ(sim::transcript().back().kind, EventKind::Key) << "the key press ends the run";
        EXPECT_EQ(sim::events(EventKind::Key).size(), 1u);
        for (const int port : {3, 7, 40}) {
            EXPECT_FALSE(sim::openPortLine(port).has_value()) << "COM" << port << " left open";
        }
        EXPECT_EQ(gDataBuffer, nullptr);
        EXPECT_EQ(gDataConcatenated, nullptr);
        EXPECT_EQ(gHexFirmware, nullptr);
        EXPECT_EQ(gHexFPGA_Code, nullptr);

        // A port that was opened is closed before the final message.
        if (c.silentPort || c.unitPort) {
            std::vector<std::string> textsAfterClose;
            bool closed = false;
            for (const sim::Event& event : sim::transcript()) {
                if (event.kind == EventKind::Close) {
                    closed = true;
                    textsAfterClose.clear();
                } else if (event.kind == EventKind::Console) {
                    textsAfterClose.push_back(event.text);
                }
            }
            const std::string finalMessage = c.status == -1 ? "" : kUpdateFailed;
            EXPECT_TRUE(closed);
            EXPECT_EQ(textsAfterClose, (std::vector<std::string>{finalMessage, kPressAnyKey}));
        }
        // The update sequence talks with CTS flow control on.
        if (c.unitPort) {
            ASSERT_FALSE(unit.frames().empty());
            EXPECT_EQ(unit.frames().back().command, "%fw -v");
            EXPECT_EQ(unit.frames().back().line, (unitsim::Line{9600, true}));
        }
    }
}

struct OperatorCase {
    const char* name;
    std::string input;
    std::string console;  // after the banner and the port prompt
    int status;
};

// An entry from which no decimal number in the signed 32-bit range can be
// read counts as 0, whatever discovery left behind; what follows a number is
// ignored. COM1 and COM32 exist, without a unit.
TEST_F(ProgramEntry, OperatorEntriesThatAreNotNumbersCountAsZero) {
    const std::string refusedPortZero = opening(0) + "ERROR: Opening COM0 failed !" + kPressAnyKey;
    const std::string silentUnit = std::string("OK\r\n") + "Checking product .......... " +
                                   "FAILED, Unknown product\r\n" + kUpdateFailed + kPressAnyKey;
    const std::vector<OperatorCase> cases{
        {"letters", "abc\n", refusedPortZero, -1},
        {"empty line", "\n32\n", refusedPortZero, -1},
        {"white space only", " \t \n", refusedPortZero, -1},
        {"end of input", "", refusedPortZero, -1},
        {"beyond 32 bits, would wrap to 1", "4294967297\n", refusedPortZero, -1},
        {"just beyond the signed range", "2147483648\n", refusedPortZero, -1},
        {"sign without digits", "+-5\n", refusedPortZero, -1},
        {"negative number", "-1\n", opening(-1) + "ERROR: Opening COM-1 failed !" + kPressAnyKey,
         -1},
        {"rate in letters", "32\nabc\n", opening(32) + askRate(0) + kPressAnyKey, -1},
        {"rate beyond 32 bits, would wrap to 9600", "32\n4294976896\n",
         opening(32) + askRate(0) + kPressAnyKey, -1},
        {"rate ended by the input", "32\n", opening(32) + askRate(0) + kPressAnyKey, -1},
        {"text after the number", " +32 port\n9600xyz\n", opening(32) + askRate(9600) + silentUnit,
         1},
    };
    for (const OperatorCase& c : cases) {
        SCOPED_TRACE(c.name);
        startRow();
        sim::addSilentPort(1);
        sim::addSilentPort(32);
        sim::setConsoleInput(c.input);

        EXPECT_EQ(runVendraFwUpgrade(), c.status);
        EXPECT_EQ(sim::consoleText(), kBanner + kAskPortAfterFailure + c.console)
            << sim::escape(sim::consoleText());
    }
}

struct OutcomeCase {
    const char* name;
    std::optional<unitsim::Fault> fault;
    std::string ending;  // the console's end
    int status;
};

// A completed sequence: 0 only with the success line; 2 when both images
// went in but the unit was not seen back; 1 when an image was refused.
TEST_F(ProgramEntry, ExitStatusOfACompletedSequence) {
    const std::string rebooted = "Please wait while the unit is rebooting ........... ";
    const std::vector<OutcomeCase> cases{
        {"unit back with its prompt", std::nullopt,
         "100%\b\b\b\b100%\n\r\n\rThe update was successful, the unit is now operational\r\n" +
             kPressAnyKey,
         0},
        {"unit silent after the reboot", unitsim::Fault::RebootNothing,
         "100%\b\b\b\b100%" + kPressAnyKey, 2},
        {"image refused", unitsim::Fault::WrongSuccess,
         "\r\nError: Expected response did  not matched !\r\n" + std::string("FAILED\r\n") +
             kUpdateFailed + kPressAnyKey,
         1},
    };
    for (const OutcomeCase& c : cases) {
        SCOPED_TRACE(c.name);
        startRow();
        unitsim::UnitConfig config = unitsim::configFor(unitsim::Variant::Tx, 9600);
        if (c.fault) {
            unitsim::applyFault(config, *c.fault);
        }
        unitsim::UnitModel unit(config);
        unitsim::SimLink link(unit);
        sim::addUnitPort(3, link);

        EXPECT_EQ(runVendraFwUpgrade(), c.status);
        const std::string console = sim::consoleText();
        EXPECT_TRUE(console.ends_with(c.ending)) << sim::escape(console);
        EXPECT_EQ(console.find(rebooted) != std::string::npos, c.status != 1);
    }
}

// After a failed discovery the operator's port opens at the rate discovery
// left stored: 1200 when any port passed the existence test, else the initial
// 9600. The operator's rate is applied afterwards, without a new setting when
// it is the same.
TEST_F(ProgramEntry, RateLeftByDiscoveryOpensTheOperatorsPort) {
    struct Case {
        const char* name;
        bool silentCom1;
        int operatorRate;
        std::vector<std::uint32_t> rates;  // applied to the operator's port, CTS off
    };
    const std::vector<Case> cases{
        {"COM1 probed, operator keeps 1200", true, 1200, {1200}},
        {"COM1 probed, operator asks 9600", true, 9600, {1200, 9600}},
        {"nothing probed, operator keeps 9600", false, 9600, {9600}},
        {"nothing probed, operator asks 1200", false, 1200, {9600, 1200}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startRow();
        if (c.silentCom1) {
            sim::addSilentPort(1);
        }
        sim::addSilentPort(40);
        sim::setConsoleInput("40\n" + std::to_string(c.operatorRate) + "\n");

        runVendraFwUpgrade();

        std::vector<std::uint32_t> rates;
        for (const sim::Event& state : sim::events(EventKind::State, 40)) {
            if (!state.line.ctsFlow) {
                rates.push_back(state.line.baud);
            }
        }
        EXPECT_EQ(rates, c.rates);
        const std::string console = sim::consoleText();
        EXPECT_NE(console.find(opening(40) + askRate(c.operatorRate) + "OK\r\n"), std::string::npos)
            << sim::escape(console);
    }
}

}  // namespace
