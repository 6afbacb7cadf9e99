// VendraFwUnitInfo on the simulated platform against the unit model: the
// report on standard output (text and JSON, the same facts), the progress and
// the serial layer's texts on standard error, the exit status, and every byte
// the unit received.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "SimLink.h"
#include "SimPlatform.h"
#include "SimRun.h"
#include "UnitModel.h"
#include "UpdateSteps.h"
#include "VendraFwUnitInfo.h"

namespace {

namespace sim = platform::sim;
using unitsim::Fault;
using unitsim::UnitConfig;
using updatetest::ExpectedRun;

constexpr std::string_view kProbeFrame = "%%%help -c version\n\r";
constexpr std::string_view kVersionFrame = "%%%fw -v\n\r";
constexpr std::string_view kIdentityFrame = "%%%fw -p\n\r";
constexpr char kSearching[] = "Looking for the unit on COM1 to COM32 ...";

// One fact as the text report and the JSON object show it.
struct Shown {
    std::string text;
    std::string json;
};
Shown word(std::string_view value) {
    return {std::string(value), "\"" + std::string(value) + "\""};
}
Shown number(int value) {
    return {std::to_string(value), std::to_string(value)};
}
Shown absent(std::string_view text = "not given") {
    return {std::string(text), "null"};
}

constexpr std::array<std::string_view, 10> kLabels{
    "COM port number ........ ", "Baud rate .............. ", "Firmware version ....... ",
    "Logic model ............ ", "Logic version .......... ", "Logic device code ...... ",
    "Device fits the images . ", "Variant ................ ", "This release ........... ",
    "Verdict ................ ",
};
constexpr std::array<std::string_view, 10> kNames{
    "port",        "baud_rate",          "firmware_version", "logic_model",     "logic_version",
    "device_code", "device_fits_images", "variant",          "release_version", "verdict",
};

// The facts of a unit that answered, in report order.
struct Facts {
    int port;
    int rate;
    Shown firmware = word("1.0.6");
    Shown model = word("K620418");
    Shown logic = word("1.07");
    Shown device = number(7);
    Shown fits = {"yes", "true"};
    Shown variant = word("TX");
    Shown verdict = word("older than this release");

    std::array<Shown, 10> all() const {
        return {number(port), number(rate), firmware, model,         logic,
                device,       fits,         variant,  word("1.0.7"), verdict};
    }
};

std::string textReport(const Facts& facts) {
    std::string text;
    const std::array<Shown, 10> shown = facts.all();
    for (std::size_t i = 0; i < shown.size(); ++i) {
        text += std::string(kLabels[i]) + shown[i].text + "\n";
    }
    return text;
}

std::string jsonReport(bool found, const std::array<Shown, 10>& shown) {
    std::string json = std::string("{\"found\": ") + (found ? "true" : "false");
    for (std::size_t i = 0; i < shown.size(); ++i) {
        json += ", \"" + std::string(kNames[i]) + "\": " + shown[i].json;
    }
    return json + "}\n";
}

std::string jsonReport(const Facts& facts) {
    return jsonReport(true, facts.all());
}

std::string jsonNoUnit() {
    std::array<Shown, 10> shown;
    shown.fill(absent());
    shown[8] = word("1.0.7");
    return jsonReport(false, shown);
}

// Answers the first identity test with a flood of every byte value but NUL,
// three times what a reply store holds, in pieces 50 ms apart.
class FloodingLine : public sim::FarEnd {
  public:
    static constexpr std::size_t kPieceSize = 100'000;
    static constexpr int kPieces = 30;
    static constexpr sim::Micros kPieceGap = 50'000;

    explicit FloodingLine(sim::FarEnd& unit) : unit_(unit) {}

    bool receive(sim::Micros at, std::string_view bytes, sim::LineState line) override {
        if (!flooded_ && bytes.find("%fw -p") != std::string_view::npos) {
            flooded_ = true;
            std::string piece(kPieceSize, '\0');
            for (std::size_t i = 0; i < piece.size(); ++i) {
                piece[i] = static_cast<char>(i % 255 + 1);
            }
            for (int i = 1; i <= kPieces; ++i) {
                flood_.push_back({at + i * kPieceGap, piece});
            }
        }
        return unit_.receive(at, bytes, line);
    }

    std::vector<sim::Arrival> transmit(sim::Micros until, sim::LineState hostLine) override {
        std::vector<sim::Arrival> due = unit_.transmit(until, hostLine);
        while (!flood_.empty() && flood_.front().at <= until) {
            due.push_back(std::move(flood_.front()));
            flood_.erase(flood_.begin());
        }
        std::ranges::stable_sort(due, {}, &sim::Arrival::at);
        return due;
    }

  private:
    sim::FarEnd& unit_;
    bool flooded_ = false;
    std::vector<sim::Arrival> flood_;
};

class UnitInfo : public SimRun {
  protected:
    // The unit on `port`; COM1 present without a unit unless the unit is there.
    void attach(int port, const UnitConfig& config, bool flood = false) {
        unit_ = std::make_unique<unitsim::UnitModel>(config);
        link_ = std::make_unique<unitsim::SimLink>(*unit_);
        sim::FarEnd* farEnd = link_.get();
        if (flood) {
            flooding_ = std::make_unique<FloodingLine>(*link_);
            farEnd = flooding_.get();
        }
        if (port != 1) {
            sim::addSilentPort(1);
        }
        sim::addUnitPort(port, *farEnd);
    }

    int run(std::vector<std::string_view> arguments) {
        runStart_ = sim::transcript().size();
        return runVendraFwUnitInfo(arguments);
    }

    // The run's view of console and line, compared with the expected one.
    void expectTranscript(const ExpectedRun& expected) const {
        const std::vector<sim::Event> ran(sim::transcript().begin() + runStart_,
                                          sim::transcript().end());
        updatetest::expectSameText(updatetest::renderView(ran), expected.render());
    }

    // Every byte written on any port is a probe, a version query or an
    // identity test, each framed whole.
    static void expectOnlyQueries() {
        for (const sim::Event& write : sim::events(sim::EventKind::Write)) {
            std::string_view bytes = write.text;
            while (!bytes.empty()) {
                const std::size_t end = bytes.find("\n\r");
                ASSERT_NE(end, std::string_view::npos) << sim::escape(write.text);
                const std::string_view frame = bytes.substr(0, end + 2);
                EXPECT_TRUE(frame == kProbeFrame || frame == kVersionFrame ||
                            frame == kIdentityFrame)
                    << "COM" << write.port << ": " << sim::escape(frame);
                bytes.remove_prefix(end + 2);
            }
        }
    }

    // The commands the unit took, in order, without the probes before the first
    // version query.
    std::vector<std::string> unitCommands() const {
        std::vector<std::string> commands;
        for (const unitsim::UnitModel::Frame& frame : unit_->frames()) {
            if (!commands.empty() || frame.command != "%help -c version") {
                commands.push_back(frame.command);
            }
        }
        return commands;
    }

    std::unique_ptr<unitsim::UnitModel> unit_;
    std::unique_ptr<unitsim::SimLink> link_;
    std::unique_ptr<FloodingLine> flooding_;
    std::size_t runStart_ = 0;
};

// Where the unit is and how it behaves.
struct Unit {
    int port = 3;  // 0: no unit, COM1 present without one
    unitsim::Variant variant = unitsim::Variant::Tx;
    std::uint32_t rate = 9600;
    std::optional<Fault> fault = std::nullopt;
    const char* versionReply = nullptr;  // nothing: the model's own
    bool flood = false;
};

const std::vector<std::string> kTxCommands{"%fw -v", "%fw -p"};
const std::vector<std::string> kBothTests{"%fw -v", "%fw -p", "%fw -p"};

struct Case {
    const char* name;
    Unit unit = {};
    std::optional<Facts> facts = std::nullopt;  // nothing: no unit answered
    std::string noUnit = {};                    // the report then
    int status = 0;
    std::vector<std::string> commands = kTxCommands;  // what the unit took after its probes
    std::vector<std::string_view> arguments = {};
    std::string progress = std::string(kSearching) + "\n";
};

TEST_F(UnitInfo, ReportsWhatTheUnitGives) {
    const Facts neither{.port = 3, .rate = 9600, .variant = absent("not recognised")};
    const Facts cutReply{.port = 3,
                         .rate = 9600,
                         .firmware = absent(),
                         .model = absent(),
                         .logic = absent(),
                         .device = absent(),
                         .fits = absent(),
                         .verdict = absent("not known")};

    const std::vector<Case> cases{
        {.name = "TX found by discovery", .facts = Facts{.port = 3, .rate = 9600}},
        {.name = "RX on a given port and rate",
         .unit = {.port = 5,
                  .variant = unitsim::Variant::Rx,
                  .rate = 57600,
                  .versionReply = "1.0.7 K620418 1.07 7\r\n>>"},
         .facts = Facts{.port = 5,
                        .rate = 57600,
                        .firmware = word("1.0.7"),
                        .variant = word("RX"),
                        .verdict = word("up to date")},
         .commands = kBothTests,
         .arguments = {"--port", "5", "--rate", "57600"},
         .progress = "Opening COM5 at 57600 baud ...\n"},
        {.name = "another device code",
         .unit = {.fault = Fault::DeviceCode3},
         .facts = Facts{.port = 3, .rate = 9600, .device = number(3), .fits = {"no", "false"}}},
        {.name = "identity of neither variant",
         .unit = {.fault = Fault::WrongIdentity},
         .facts = neither,
         .status = 1,
         .commands = kBothTests},
        {.name = "version reply cut after two numbers",
         .unit = {.versionReply = "1.0 K620418 1.07 7\r\n>>"},
         .facts = cutReply},
        {.name = "no version reply", .unit = {.versionReply = ""}, .facts = cutReply},
        {.name = "model word too long",
         .unit = {.fault = Fault::VersionLongModel},
         .facts = Facts{.port = 3,
                        .rate = 9600,
                        .model = absent(),
                        .logic = absent(),
                        .device = absent(),
                        .fits = absent()}},
        {.name = "model word of quote, backslash, escape, delete and 0xFF",
         .unit = {.versionReply = "3.0.0 K\"\\\x1b\x7f\xff 1.07 7\r\n>>"},
         .facts = Facts{.port = 3,
                        .rate = 9600,
                        .firmware = word("3.0.0"),
                        .model = {"K\"\\\\\\x1B\\x7F\\xFF", "\"K\\\"\\\\\\u001B\\u007F\\u00FF\""},
                        .verdict = word("newer than this release")}},
        {.name = "flood in answer to the identity test",
         .unit = {.flood = true},
         .facts = neither,
         .status = 1,
         .commands = kBothTests},
        {.name = "no unit at all",
         .unit = {.port = 0},
         .noUnit = "No unit answered on COM1 to COM32.\n",
         .status = 1},
        {.name = "given port without a unit",
         .unit = {.port = 0},
         .noUnit = "No unit answered on COM1 at 9600 baud.\n",
         .status = 1,
         .arguments = {"--port", "1", "--rate", "9600"},
         .progress = "Opening COM1 at 9600 baud ...\n"},
        {.name = "given port absent",
         .unit = {.port = 0},
         .noUnit = "No unit answered on COM7 at 9600 baud.\n",
         .status = 1,
         .arguments = {"--port", "7", "--rate", "9600"},
         .progress = "Opening COM7 at 9600 baud ...ERROR: Opening COM7 failed !\n"},
    };
    for (const Case& c : cases) {
        for (const bool json : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (json ? " (--json)" : ""));
            startRow();
            if (c.unit.port != 0) {
                UnitConfig config = unitsim::configFor(c.unit.variant, c.unit.rate);
                if (c.unit.fault) {
                    unitsim::applyFault(config, *c.unit.fault);
                }
                if (c.unit.versionReply != nullptr) {
                    config.versionReply = c.unit.versionReply;
                }
                attach(c.unit.port, config, c.unit.flood);
            } else {
                sim::addSilentPort(1);
            }
            std::vector<std::string_view> arguments = c.arguments;
            if (json) {
                arguments.push_back("--json");
            }

            EXPECT_EQ(run(arguments), c.status);

            const std::string report = !c.facts ? (json ? jsonNoUnit() : c.noUnit)
                                       : json   ? jsonReport(*c.facts)
                                                : textReport(*c.facts);
            EXPECT_EQ(sim::consoleText(), report);
            EXPECT_EQ(sim::errorOutputText(), c.progress);
            expectOnlyQueries();
            if (unit_) {
                EXPECT_EQ(unitCommands(), c.commands);
                EXPECT_TRUE(unit_->violations().empty()) << unit_->report();
                unit_.reset();
            }
            EXPECT_FALSE(sim::openPortLine(c.unit.port)) << "the port is closed at the end";
        }
    }
}

// The whole run as the unit sees it, with virtual times: discovery over COM1
// (present, silent), COM2 (absent) and COM3, then the identification's
// exchanges at the found rate with CTS flow control and 1000 ms reads.
TEST_F(UnitInfo, TxByDiscoveryOnTheLine) {
    const UnitConfig config = unitsim::configFor(unitsim::Variant::Tx, 9600);
    attach(3, config);

    ExpectedRun x;
    updatetest::probePort(x, 1);
    x.openFails(2);
    updatetest::probePort(x, 3, 9600);
    const sim::LineState line{9600, true};
    x.write(3, line, kVersionFrame);
    x.read(3, 1000, config.versionReply);
    x.write(3, line, kIdentityFrame);
    x.read(3, 1000, updatetest::kTxIdentity);
    x.read(3, 1000);
    x.close(3, line, 1000);
    x.console(textReport({.port = 3, .rate = 9600}));

    EXPECT_EQ(run({}), 0);
    expectTranscript(x);
}

// A given line is opened at its rate with no probe, and an RX unit is asked
// its identity twice.
TEST_F(UnitInfo, RxOnAGivenLineOnTheLine) {
    const UnitConfig config = unitsim::configFor(unitsim::Variant::Rx, 57600);
    attach(5, config);

    ExpectedRun x;
    const sim::LineState line{57600, true};
    x.open(5);
    x.write(5, line, kVersionFrame);
    x.read(5, 1000, config.versionReply);
    for (int test = 0; test < 2; ++test) {
        x.write(5, line, kIdentityFrame);
        x.read(5, 1000, updatetest::kRxIdentity);
        x.read(5, 1000);
    }
    x.close(5, line, 1000);
    x.console(jsonReport(Facts{.port = 5, .rate = 57600, .variant = word("RX")}));

    EXPECT_EQ(run({"--port", "5", "--rate", "57600", "--json"}), 0);
    expectTranscript(x);
}

TEST_F(UnitInfo, WrongOptionsOpenNothing) {
    const std::string hint = "Run VendraFwUnitInfo --help for the options.\n";
    const std::string rateRange = "VendraFwUnitInfo: --rate takes a whole number from 1 to ";
    const std::string portRange = "VendraFwUnitInfo: --port takes a whole number from 1 to ";
    struct Usage {
        std::vector<std::string_view> arguments;
        std::string message;
    };
    const std::vector<Usage> cases{
        {{"--verbose"}, "VendraFwUnitInfo: unknown option \"--verbose\"\n"},
        {{"--port", "3", "--rate", "9600", "extra"},
         "VendraFwUnitInfo: unknown option \"extra\"\n"},
        {{""}, "VendraFwUnitInfo: unknown option \"\"\n"},
        {{"--port", "3"}, "VendraFwUnitInfo: --port and --rate go together\n"},
        {{"--rate", "9600", "--json"}, "VendraFwUnitInfo: --port and --rate go together\n"},
        {{"--port"}, "VendraFwUnitInfo: --port needs a number\n"},
        {{"--port", "3", "--rate"}, "VendraFwUnitInfo: --rate needs a number\n"},
        {{"--port", "3x", "--rate", "9600"}, portRange + "2147483647, not \"3x\"\n"},
        {{"--port", "-3", "--rate", "9600"}, portRange + "2147483647, not \"-3\"\n"},
        {{"--port", "+3", "--rate", "9600"}, portRange + "2147483647, not \"+3\"\n"},
        {{"--port", "0", "--rate", "9600"}, portRange + "2147483647, not \"0\"\n"},
        {{"--port", "3", "--rate", "4294977896"}, rateRange + "2147483647, not \"4294977896\"\n"},
        {{"--port", "3", "--rate", "2147483648"}, rateRange + "2147483647, not \"2147483648\"\n"},
        {{"--port", "3", "--rate", " 9600"}, rateRange + "2147483647, not \" 9600\"\n"},
        {{"--port", "3", "--rate", ""}, rateRange + "2147483647, not \"\"\n"},
        {{"--port", "3", "--port", "4", "--rate", "9600"},
         "VendraFwUnitInfo: --port is given twice\n"},
        {{"--json", "--json"}, "VendraFwUnitInfo: --json is given twice\n"},
    };
    for (const Usage& c : cases) {
        SCOPED_TRACE(c.message);
        startRow();
        sim::addSilentPort(3);
        EXPECT_EQ(run(c.arguments), 2);
        EXPECT_EQ(sim::errorOutputText(), c.message + hint);
        EXPECT_EQ(sim::consoleText(), "");
        EXPECT_TRUE(sim::events(sim::EventKind::Open).empty());
    }
}

TEST_F(UnitInfo, HelpPrintsTheUsageAndOpensNothing) {
    sim::addSilentPort(3);
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_TRUE(
        sim::consoleText().starts_with("Usage: VendraFwUnitInfo [--port N --rate R] [--json]\n"))
        << sim::consoleText();
    EXPECT_EQ(sim::errorOutputText(), "");
    EXPECT_TRUE(sim::events(sim::EventKind::Open).empty());
}

}  // namespace
