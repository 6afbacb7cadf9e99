// Whole runs with a catalogue of small images in which the TX logic image and
// the microcontroller image each hold a record with a wrong checksum, while
// the RX logic image is sound: the update's answer to an image it cannot
// assemble, which the release catalogue never shows.
#include <gtest/gtest.h>

#include <memory>
#include <string_view>

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
constexpr std::string_view kBrokenRecord = ":0400000001020304F3";

class BrokenImage : public SimRun {
  protected:
    void attach(unitsim::Variant variant) {
        unit_ = std::make_unique<unitsim::UnitModel>(unitsim::configFor(variant, 9600));
        link_ = std::make_unique<unitsim::SimLink>(*unit_);
        sim::addSilentPort(1);
        sim::addUnitPort(kUnitPort, *link_);
    }

    void expectRun(const ExpectedRun& expected) {
        const std::size_t start = sim::transcript().size();
        EXPECT_EQ(runVendraFwUpgrade(), 1);
        EXPECT_EQ(sim::consoleText(), expected.consoleText());
        const std::vector<sim::Event> ran(sim::transcript().begin() + start,
                                          sim::transcript().end());
        expectSameText(renderView(ran), expected.render());
        EXPECT_TRUE(unit_->violations().empty()) << unit_->report();
    }

    static void brokenRecordLines(ExpectedRun& x) {
        x.line("\r\n intel_hex_line_is_valid \r");
        x.console(kBrokenRecord);
        x.line("\r");
    }

    std::unique_ptr<unitsim::UnitModel> unit_;
    std::unique_ptr<unitsim::SimLink> link_;
};

TEST_F(BrokenImage, InvalidLogicImageStopsBeforeAnythingIsAnnounced) {
    attach(unitsim::Variant::Tx);
    const std::string version = unit_->config().versionReply;

    ExpectedRun x;
    banner(x);
    discovery(x, kUnitPort, 9600);
    identification(x, kUnitPort, 9600, Variant::Tx, version);
    brokenRecordLines(x);
    x.line("\r\nERROR: Programmable Logic data is not valid !\r");
    ending(x, kUnitPort, {9600, true}, 1000, false);

    expectRun(x);
    EXPECT_TRUE(unit_->transfers().empty());
}

TEST_F(BrokenImage, InvalidFirmwareImageStopsAfterTheLogicUpload) {
    attach(unitsim::Variant::Rx);
    const std::string version = unit_->config().versionReply;
    const FlatImage logic = catalogueImage(2);
    ASSERT_EQ(logic.bytes, std::string("\x01\x02\x03\x04"));

    ExpectedRun x;
    banner(x);
    discovery(x, kUnitPort, 9600);
    identification(x, kUnitPort, 9600, Variant::Rx, version);
    ASSERT_TRUE(upload(x, kUnitPort, {9600, true}, kLogicUpload, logic));
    x.line("OK\r");
    brokenRecordLines(x);
    x.line("\r\nERROR: uC Firmware data is not valid !\r");
    ending(x, kUnitPort, {115200, true}, 1000, false);

    expectRun(x);
    ASSERT_EQ(unit_->transfers().size(), 1U);
    EXPECT_EQ(unit_->transfers()[0].data, logic.bytes);
    EXPECT_TRUE(unit_->transfers()[0].succeeded);
}

}  // namespace
