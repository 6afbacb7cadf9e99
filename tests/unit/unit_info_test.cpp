// VendraFwUnitInfo on the simulated platform against the unit model: the
// report on standard output (text and JSON, the same facts), the progress and
// the serial layer's texts on standard error, the exit status, and every byte
// the unit received.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "SimLink.h"
#include "SimPlatform.h"
#include "SimRun.h"
#include "UnitModel.h"
#include "UpdateTranscript.h"
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

struct Case {
    const char* name;
    int unitPort;  // 0: no unit, COM1 present without one
    unitsim::Variant variant;
    std::uint32_t unitRate;
    std::function<void(UnitConfig&)> configure;
    std::vector<std::string_view> arguments;
    std::string text;  // the text report
    std::string json;  // the JSON report
    std::string progress;
    int status;
    std::vector<std::string> commands;  // what the unit took after its probes
    bool flood = false;
};

TEST_F(UnitInfo, ReportsWhatTheUnitGives) {
    const auto none = [](UnitConfig&) {};
    const auto fault = [](Fault f) { return [f](UnitConfig& c) { unitsim::applyFault(c, f); }; };
    const auto versionReply = [](std::string text) {
        return [text](UnitConfig& c) { c.versionReply = text; };
    };
    const std::string searched = std::string(kSearching) + "\n";
    const std::vector<std::string> tx{"%fw -v", "%fw -p"};
    const std::vector<std::string> asked{"%fw -v", "%fw -p", "%fw -p"};

    const Facts txFound{.port = 3, .rate = 9600};
    const Facts rxGiven{.port = 5,
                        .rate = 57600,
                        .firmware = word("1.0.7"),
                        .variant = word("RX"),
                        .verdict = word("up to date")};
    const Facts otherDevice{.port = 3, .rate = 9600, .device = number(3), .fits = {"no", "false"}};
    const Facts neither{.port = 3, .rate = 9600, .variant = absent("not recognised")};
    const Facts cutReply{.port = 3,
                         .rate = 9600,
                         .firmware = absent(),
                         .model = absent(),
                         .logic = absent(),
                         .device = absent(),
                         .fits = absent(),
                         .verdict = absent("not known")};
    const Facts longModel{.port = 3,
                          .rate = 9600,
                          .model = absent(),
                          .logic = absent(),
                          .device = absent(),
                          .fits = absent()};
    const Facts hostileModel{
        .port = 3,
        .rate = 9600,
        .firmware = word("3.0.0"),
        .model = {"K\"\\\\\\x1B\\x7F\\xFF", "\"K\\\"\\\\\\u001B\\u007F\\u00FF\""},
        .verdict = word("newer than this release")};

    const std::vector<Case> cases{
        {"TX found by discovery",
         3,
         unitsim::Variant::Tx,
         9600,
         none,
         {},
         textReport(txFound),
         jsonReport(txFound),
         searched,
         0,
         tx},
        {"RX on a given port and rate",
         5,
         unitsim::Variant::Rx,
         57600,
         versionReply("1.0.7 K620418 1.07 7\r\n>>"),
         {"--port", "5", "--rate", "57600"},
         textReport(rxGiven),
         jsonReport(rxGiven),
         "Opening COM5 at 57600 baud ...\n",
         0,
         asked},
        {"another device code",
         3,
         unitsim::Variant::Tx,
         9600,
         fault(Fault::DeviceCode3),
         {},
         textReport(otherDevice),
         jsonReport(otherDevice),
         searched,
         0,
         tx},
        {"identity of neither variant",
         3,
         unitsim::Variant::Tx,
         9600,
         fault(Fault::WrongIdentity),
         {},
         textReport(neither),
         jsonReport(neither),
         searched,
         1,
         asked},
        {"version reply cut after two numbers",
         3,
         unitsim::Variant::Tx,
         9600,
         versionReply("1.0 K620418 1.07 7\r\n>>"),
         {},
         textReport(cutReply),
         jsonReport(cutReply),
         searched,
         0,
         tx},
        {"no version reply",
         3,
         unitsim::Variant::Tx,
         9600,
         versionReply(""),
         {},
         textReport(cutReply),
         jsonReport(cutReply),
         searched,
         0,
         tx},
        {"model word too long",
         3,
         unitsim::Variant::Tx,
         9600,
         fault(Fault::VersionLongModel),
         {},
         textReport(longModel),
         jsonReport(longModel),
         searched,
         0,
         tx},
        {"model word of quote, backslash, escape, delete and 0xFF",
         3,
         unitsim::Variant::Tx,
         9600,
         versionReply("3.0.0 K\"\\\x1b\x7f\xff 1.07 7\r\n>>"),
         {},
         textReport(hostileModel),
         jsonReport(hostileModel),
         searched,
         0,
         tx},
        {"flood in answer to the identity test",
         3,
         unitsim::Variant::Tx,
         9600,
         none,
         {},
         textReport(neither),
         jsonReport(neither),
         searched,
         1,
         asked,
         true},
        {"no unit at all",
         0,
         unitsim::Variant::Tx,
         9600,
         none,
         {},
         "No unit answered on COM1 to COM32.\n",
         jsonNoUnit(),
         searched,
         1,
         {}},
        {"given port without a unit",
         0,
         unitsim::Variant::Tx,
         9600,
         none,
         {"--port", "1", "--rate", "9600"},
         "No unit answered on COM1 at 9600 baud.\n",
         jsonNoUnit(),
         "Opening COM1 at 9600 baud ...\n",
         1,
         {}},
        {"given port absent",
         0,
         unitsim::Variant::Tx,
         9600,
         none,
         {"--port", "7", "--rate", "9600"},
         "No unit answered on COM7 at 9600 baud.\n",
         jsonNoUnit(),
         "Opening COM7 at 9600 baud ...ERROR: Opening COM7 failed !\n",
         1,
         {}},
    };
    for (const Case& c : cases) {
        for (const bool json : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (json ? " (--json)" : ""));
            startRow();
            UnitConfig config = unitsim::configFor(c.variant, c.unitRate);
            c.configure(config);
            if (c.unitPort != 0) {
                attach(c.unitPort, config, c.flood);
            } else {
                sim::addSilentPort(1);
            }
            std::vector<std::string_view> arguments = c.arguments;
            if (json) {
                arguments.push_back("--json");
            }

            EXPECT_EQ(run(arguments), c.status);

            EXPECT_EQ(sim::consoleText(), json ? c.json : c.text);
            EXPECT_EQ(sim::errorOutputText(), c.progress);
            expectOnlyQueries();
            if (unit_) {
                EXPECT_EQ(unitCommands(), c.commands);
                EXPECT_TRUE(unit_->violations().empty()) << unit_->report();
                unit_.reset();
            }
            EXPECT_FALSE(sim::openPortLine(c.unitPort)) << "the port is closed at the end";
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
