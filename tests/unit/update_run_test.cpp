// Whole console runs against the unit model on the simulated platform, each
// compared with an expected transcript built from the program's texts and the
// line rules, with virtual times.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "SimLink.h"
#include "SimPlatform.h"
#include "SimRun.h"
#include "UnitModel.h"
#include "UpdateSteps.h"
#include "VendraFwUpgrade.h"

namespace {

namespace sim = platform::sim;
using namespace updatetest;

constexpr int kUnitPort = 3;
constexpr std::uint32_t kRebootWaitMicros = 138'000'000;

const FlatImage& firmwareImage() {
    static const FlatImage image = catalogueImage(0);
    return image;
}
const FlatImage& logicImage(Variant variant) {
    static const FlatImage tx = catalogueImage(1);
    static const FlatImage rx = catalogueImage(2);
    return variant == Variant::Tx ? tx : rx;
}

unitsim::Variant modelVariant(Variant variant) {
    return variant == Variant::Tx ? unitsim::Variant::Tx : unitsim::Variant::Rx;
}

// A line between the program and the unit that loses or damages what the
// program sends once the microcontroller image has been announced.
class DamagedLine : public sim::FarEnd {
  public:
    enum class Damage { LoseFirmwareCommand, CorruptFirmwareData };

    DamagedLine(sim::FarEnd& unit, Damage damage) : unit_(unit), damage_(damage) {}

    bool receive(sim::Micros at, std::string_view bytes, sim::LineState line) override {
        if (!announced_ && bytes.find("%fw -h ") != std::string_view::npos) {
            announced_ = true;
            return damage_ == Damage::LoseFirmwareCommand || unit_.receive(at, bytes, line);
        }
        if (announced_ && damage_ == Damage::CorruptFirmwareData && !corrupted_) {
            corrupted_ = true;
            std::string damaged(bytes);
            damaged[0] = static_cast<char>(damaged[0] ^ 0x01);
            return unit_.receive(at, damaged, line);
        }
        return unit_.receive(at, bytes, line);
    }
    std::vector<sim::Arrival> transmit(sim::Micros until, sim::LineState hostLine) override {
        return unit_.transmit(until, hostLine);
    }

  private:
    sim::FarEnd& unit_;
    Damage damage_;
    bool announced_ = false;
    bool corrupted_ = false;
};

class UpdateRun : public SimRun {
  protected:
    // The unit on `port` (COM1 present without a unit, the rest absent).
    void attach(const unitsim::UnitConfig& config, int port = kUnitPort,
                std::unique_ptr<sim::FarEnd> (*wrap)(sim::FarEnd&) = nullptr) {
        unit_ = std::make_unique<unitsim::UnitModel>(config);
        link_ = std::make_unique<unitsim::SimLink>(*unit_);
        sim::FarEnd* farEnd = link_.get();
        if (wrap != nullptr) {
            damaged_ = wrap(*link_);
            farEnd = damaged_.get();
        }
        sim::addSilentPort(1);
        sim::addUnitPort(port, *farEnd);
    }

    int run() {
        runStart_ = sim::transcript().size();
        return runVendraFwUpgrade();
    }

    // The run's view equals the expected one, byte for byte.
    void expectTranscript(const ExpectedRun& expected) {
        EXPECT_EQ(sim::consoleText(), expected.consoleText());
        const std::vector<sim::Event> ran(sim::transcript().begin() + runStart_,
                                          sim::transcript().end());
        expectSameText(renderView(ran), expected.render());
        EXPECT_TRUE(unit_->violations().empty()) << unit_->report();
    }

    // The unit received the flat images, whole, at 115,200 baud with CTS flow
    // control, announced with their checksums and lengths.
    void expectImagesReceived(Variant variant) {
        const std::vector<unitsim::UnitModel::Transfer>& transfers = unit_->transfers();
        ASSERT_EQ(transfers.size(), 2U);
        const FlatImage* images[] = {&logicImage(variant), &firmwareImage()};
        const char* commands[] = {"%fw -l", "%fw -h"};
        for (std::size_t i = 0; i < 2; ++i) {
            SCOPED_TRACE(commands[i]);
            EXPECT_EQ(transfers[i].command, commands[i]);
            EXPECT_EQ(transfers[i].checksum, images[i]->checksum);
            EXPECT_EQ(transfers[i].length, images[i]->bytes.size());
            EXPECT_TRUE(transfers[i].data == images[i]->bytes);
            EXPECT_EQ(transfers[i].lines, (std::vector<unitsim::Line>{{kDataRate, true}}));
            EXPECT_TRUE(transfers[i].succeeded);
        }
    }

    std::size_t runStart_ = 0;
    std::unique_ptr<unitsim::UnitModel> unit_;
    std::unique_ptr<unitsim::SimLink> link_;
    std::unique_ptr<sim::FarEnd> damaged_;
};

struct Found {
    Variant variant;
    std::uint32_t rate;
};

class FoundByDiscovery : public UpdateRun, public ::testing::WithParamInterface<Found> {};

TEST_P(FoundByDiscovery, UpdatesTheUnitAndSeesItBack) {
    const auto [variant, rate] = GetParam();
    const unitsim::UnitConfig config = unitsim::configFor(modelVariant(variant), rate);
    attach(config);
    sim::setConsoleInput("x");

    ExpectedRun x;
    banner(x);
    discovery(x, kUnitPort, rate);
    identification(x, kUnitPort, rate, variant, config.versionReply);
    ASSERT_TRUE(uploads(x, kUnitPort, rate, logicImage(variant), firmwareImage()));
    rebootWait(x, kUnitPort, "", config.rebootText, true);
    ending(x, kUnitPort, {rate, true}, 11000, true, "x");

    EXPECT_EQ(run(), 0);
    expectTranscript(x);
    expectImagesReceived(variant);
    EXPECT_EQ(unit_->reboots(), 1);
}

INSTANTIATE_TEST_SUITE_P(Units, FoundByDiscovery,
                         ::testing::Values(Found{Variant::Tx, 9600}, Found{Variant::Rx, 9600},
                                           Found{Variant::Rx, 57600}, Found{Variant::Tx, 115200}),
                         [](const auto& info) {
                             return std::string(info.param.variant == Variant::Tx ? "Tx" : "Rx") +
                                    "At" + std::to_string(info.param.rate);
                         });

// The fixed durations, read off the run's own transcript: the reboot wait is
// 46 sleeps of 3 s between the last data reply and the two reads; each
// phase's reads last its time-out; each phase writes at its rate.
TEST_F(UpdateRun, PhasesKeepTheirRatesAndTimeOuts) {
    attach(unitsim::configFor(unitsim::Variant::Rx, 9600));
    ASSERT_EQ(run(), 0);

    const std::vector<sim::Event> sleeps = sim::events(sim::EventKind::Sleep);
    ASSERT_EQ(sleeps.size(), 46U);
    sim::Micros slept = 0;
    for (const sim::Event& s : sleeps) {
        EXPECT_EQ(s.value, 3000U);
        slept += s.duration;
    }
    EXPECT_EQ(slept, kRebootWaitMicros);
    EXPECT_EQ(sleeps.back().at + sleeps.back().duration - sleeps.front().at, kRebootWaitMicros);

    struct Phase {
        std::string_view command;
        std::uint32_t rate;
        sim::Micros readMicros;
    };
    const Phase phases[] = {{"%%%fw -v\n\r", 9600, 1'000'000},
                            {"%%%fw -p\n\r", 9600, 1'000'000},
                            {"%%%fw -l ", 9600, 10'000'000},
                            {"%%%fw -h ", 115200, 5'000'000}};
    const std::vector<sim::Event>& all = sim::transcript();
    for (const Phase& phase : phases) {
        SCOPED_TRACE(std::string(phase.command));
        auto at = std::find_if(all.begin(), all.end(), [&](const sim::Event& e) {
            return e.kind == sim::EventKind::Write && e.text.starts_with(phase.command);
        });
        ASSERT_NE(at, all.end());
        EXPECT_EQ(at->line.baud, phase.rate);
        EXPECT_TRUE(at->line.ctsFlow);
        const auto read = std::find_if(
            at, all.end(), [](const sim::Event& e) { return e.kind == sim::EventKind::Read; });
        ASSERT_NE(read, all.end());
        EXPECT_EQ(read->duration, phase.readMicros);
    }
    const std::vector<sim::Event> reads = sim::events(sim::EventKind::Read, kUnitPort);
    ASSERT_GE(reads.size(), 2U);
    EXPECT_EQ(reads[reads.size() - 2].duration, 1'000'000);
    EXPECT_EQ(reads.back().duration, 11'000'000);
    EXPECT_EQ(reads.back().at, sleeps.back().at + sleeps.back().duration + 1'000'000);
    const std::vector<sim::Event> closes = sim::events(sim::EventKind::Close, kUnitPort);
    EXPECT_EQ(closes.back().line.baud, 9600U);
}

// A unit on COM33, which discovery does not reach: the operator names it.
TEST_F(UpdateRun, ManualDialogueLeadsToAnUpdate) {
    constexpr int port = 33;
    const unitsim::UnitConfig config = unitsim::configFor(unitsim::Variant::Tx, 9600);
    attach(config, port);
    sim::setConsoleInput("33\n9600\nk");

    ExpectedRun x;
    banner(x);
    discovery(x, port, 9600);
    manualDialogue(x, port, 9600);
    identification(x, port, 9600, Variant::Tx, config.versionReply);
    ASSERT_TRUE(uploads(x, port, 9600, logicImage(Variant::Tx), firmwareImage()));
    rebootWait(x, port, "", config.rebootText, true);
    ending(x, port, {9600, true}, 11000, true, "k");

    EXPECT_EQ(run(), 0);
    expectTranscript(x);
    expectImagesReceived(Variant::Tx);
}

enum class Failure {
    LogicNotReady,
    LogicWriteFails,
    LogicWrongReply,
    FirmwareNotReady,
    FirmwareWriteFails,
    FirmwareWrongReply,
};

class UploadFailure : public UpdateRun, public ::testing::WithParamInterface<Failure> {};

// Each failure of an upload ends the run with the failure line, the error
// text and exit status 1; the port closes with the line of that moment.
TEST_P(UploadFailure, EndsTheRunWithTheErrorText) {
    const Failure failure = GetParam();
    unitsim::UnitConfig config = unitsim::configFor(unitsim::Variant::Tx, 9600);
    const FlatImage& logic = logicImage(Variant::Tx);
    UploadOutcome logicOutcome;
    UploadOutcome firmwareOutcome;
    std::unique_ptr<sim::FarEnd> (*wrap)(sim::FarEnd&) = nullptr;
    switch (failure) {
        case Failure::LogicNotReady:
            unitsim::applyFault(config, unitsim::Fault::NoReady);
            logicOutcome.ready = false;
            break;
        case Failure::LogicWriteFails:
            unitsim::applyFault(config, unitsim::Fault::LineDrop);
            logicOutcome.failingWrite = 1;
            break;
        case Failure::LogicWrongReply:
            unitsim::applyFault(config, unitsim::Fault::WrongSuccess);
            logicOutcome.reply = config.successText;
            break;
        case Failure::FirmwareNotReady:
            wrap = [](sim::FarEnd& unit) -> std::unique_ptr<sim::FarEnd> {
                return std::make_unique<DamagedLine>(unit,
                                                     DamagedLine::Damage::LoseFirmwareCommand);
            };
            firmwareOutcome.ready = false;
            break;
        case Failure::FirmwareWriteFails:
            unitsim::applyFault(config, unitsim::Fault::LineDropInFirmware);
            firmwareOutcome.failingWrite = 1;
            break;
        case Failure::FirmwareWrongReply:
            wrap = [](sim::FarEnd& unit) -> std::unique_ptr<sim::FarEnd> {
                return std::make_unique<DamagedLine>(unit,
                                                     DamagedLine::Damage::CorruptFirmwareData);
            };
            firmwareOutcome.reply = config.failureText;
            break;
    }
    attach(config, kUnitPort, wrap);

    ExpectedRun x;
    banner(x);
    discovery(x, kUnitPort, 9600);
    identification(x, kUnitPort, 9600, Variant::Tx, config.versionReply);
    ASSERT_FALSE(
        uploads(x, kUnitPort, 9600, logic, firmwareImage(), logicOutcome, firmwareOutcome));
    const bool logicFailed = failure == Failure::LogicNotReady ||
                             failure == Failure::LogicWriteFails ||
                             failure == Failure::LogicWrongReply;
    const bool notReady = failure == Failure::LogicNotReady || failure == Failure::FirmwareNotReady;
    const sim::LineState closing{failure == Failure::LogicNotReady ? 9600U : kDataRate, true};
    const std::uint32_t timeout = !notReady ? 1000 : logicFailed ? 10000 : 5000;
    ending(x, kUnitPort, closing, timeout, false);

    EXPECT_EQ(run(), 1);
    expectTranscript(x);
    EXPECT_TRUE(sim::events(sim::EventKind::Sleep).empty());
}

std::string failureName(const ::testing::TestParamInfo<Failure>& info) {
    constexpr std::array<const char*, 6> kNames{"LogicNotReady",      "LogicWriteFails",
                                                "LogicWrongReply",    "FirmwareNotReady",
                                                "FirmwareWriteFails", "FirmwareWrongReply"};
    return kNames[static_cast<std::size_t>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Rows, UploadFailure,
                         ::testing::Values(Failure::LogicNotReady, Failure::LogicWriteFails,
                                           Failure::LogicWrongReply, Failure::FirmwareNotReady,
                                           Failure::FirmwareWriteFails,
                                           Failure::FirmwareWrongReply),
                         failureName);

struct RebootCase {
    const char* name;
    unitsim::Fault fault;
    bool earlyText;  // the whole text comes within the first read
};

class RebootVerdict : public UpdateRun, public ::testing::WithParamInterface<RebootCase> {};

// Whatever the unit says after its reboot, both images went in: no error
// text. Only "[" ... ">>" in the second read earns the success line; without
// it the exit status is 2, uploaded but not confirmed.
TEST_P(RebootVerdict, OnlyTheExpectedShapeInTheSecondReadGivesTheSuccessLine) {
    const RebootCase& c = GetParam();
    unitsim::UnitConfig config = unitsim::configFor(unitsim::Variant::Tx, 9600);
    unitsim::applyFault(config, c.fault);
    attach(config);

    ExpectedRun x;
    banner(x);
    discovery(x, kUnitPort, 9600);
    identification(x, kUnitPort, 9600, Variant::Tx, config.versionReply);
    ASSERT_TRUE(uploads(x, kUnitPort, 9600, logicImage(Variant::Tx), firmwareImage()));
    rebootWait(x, kUnitPort, c.earlyText ? config.rebootText : "",
               c.earlyText ? "" : config.rebootText, false);
    ending(x, kUnitPort, {9600, true}, 11000, true);

    EXPECT_EQ(run(), 2);
    expectTranscript(x);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, RebootVerdict,
    ::testing::Values(RebootCase{"SingleAngle", unitsim::Fault::RebootSingleAngle, false},
                      RebootCase{"NoBracket", unitsim::Fault::RebootNoBracket, false},
                      RebootCase{"BracketAlone", unitsim::Fault::RebootBracketOnly, false},
                      RebootCase{"Nothing", unitsim::Fault::RebootNothing, false},
                      RebootCase{"LostInFirstRead", unitsim::Fault::RebootEarly, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
