#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Platform.h"
#include "SimLink.h"
#include "SimPlatform.h"
#include "SystemTexts.h"
#include "UnitModel.h"

namespace {

namespace sim = platform::sim;
using unitsim::Fault;
using unitsim::UnitConfig;
using unitsim::UnitModel;

constexpr int kPort = 3;
constexpr std::uint32_t kBulkChunk = 10240;

// A host that drives the line through the platform calls, as the program does.
class Host {
  public:
    explicit Host(std::uint32_t baud, bool cts = true, std::uint32_t timeoutMs = 1000) {
        handle_ = platform::serialOpen("\\\\.\\COM3");
        EXPECT_NE(handle_, platform::kInvalidSerialHandle);
        setTimeout(timeoutMs);
        setLine(baud, cts);
        platform::serialPurge(handle_,
                              PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    }
    ~Host() { platform::serialClose(handle_); }

    void setLine(std::uint32_t baud, bool cts) {
        dcb_.BaudRate = baud;
        dcb_.fOutxCtsFlow = cts ? 1 : 0;
        EXPECT_TRUE(platform::serialSetState(handle_, dcb_));
    }
    void setTimeout(std::uint32_t ms) {
        const COMMTIMEOUTS timeouts{ms, 0, ms, 0, 0};
        platform::serialSetTimeouts(handle_, timeouts);
    }
    bool write(std::string_view bytes) {
        std::uint32_t written = 0;
        return platform::serialWrite(handle_, bytes.data(),
                                     static_cast<std::uint32_t>(bytes.size()), &written);
    }
    std::string read() {
        std::string buffer(1023999, '\0');
        std::uint32_t got = 0;
        platform::serialRead(handle_, buffer.data(), 1023999, &got);
        buffer.resize(got);
        return buffer;
    }
    // Reads until one read brings nothing.
    std::string collect() {
        std::string reply;
        for (std::string piece = read(); !piece.empty(); piece = read()) {
            reply += piece;
        }
        return reply;
    }
    std::string exchange(std::string_view command) {
        EXPECT_TRUE(write("%%" + std::string(command) + "\n\r"));
        return collect();
    }
    bool sendData(std::string_view data) {
        for (std::size_t sent = 0; sent < data.size(); sent += kBulkChunk) {
            if (!write(data.substr(sent, kBulkChunk))) {
                return false;
            }
        }
        return true;
    }

  private:
    platform::SerialHandle handle_{};
    DCB dcb_{};
};

std::string pattern(std::size_t length, unsigned seed) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<char>((i * 31 + seed) & 0xFF);
    }
    return bytes;
}

std::string loadCommand(std::string_view start, std::string_view image) {
    return std::string(start) + " " + std::to_string(unitsim::imageChecksum(image)) + " " +
           std::to_string(image.size());
}

struct UpdateRun {
    std::string logicReady, logicVerdict, firmwareReady, firmwareVerdict, firstRead, secondRead;
};

// The whole upload as the program performs it, with its rates and time-outs.
UpdateRun runUpdate(std::uint32_t baud, std::string_view logic, std::string_view firmware,
                    std::uint32_t rateAfterReboot) {
    UpdateRun run;
    Host host(baud, true, 1000);
    host.setTimeout(10000);
    run.logicReady = host.exchange(loadCommand("%fw -l", logic));
    host.setLine(unitsim::kDataBaud, true);
    host.setTimeout(1000);
    host.sendData(logic);
    run.logicVerdict = host.collect();
    host.setTimeout(5000);
    run.firmwareReady = host.exchange(loadCommand("%fw -h", firmware));
    host.setTimeout(1000);
    host.sendData(firmware);
    run.firmwareVerdict = host.collect();
    host.setLine(rateAfterReboot, true);
    for (int step = 0; step < 46; ++step) {
        platform::sleepMs(3000);
    }
    run.firstRead = host.read();
    host.setTimeout(11000);
    run.secondRead = host.read();
    return run;
}

class UnitModelTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::reset(); }
    void TearDown() override { sim::reset(); }

    UnitModel& attach(UnitConfig config) {
        unit_.emplace(std::move(config));
        link_.emplace(*unit_);
        sim::addUnitPort(kPort, *link_);
        return *unit_;
    }
    UnitModel& attach(std::initializer_list<Fault> faults, std::uint32_t baud = 9600) {
        UnitConfig config = unitsim::configFor(unitsim::Variant::Tx, baud);
        for (const Fault fault : faults) {
            unitsim::applyFault(config, fault);
        }
        return attach(std::move(config));
    }

    std::optional<UnitModel> unit_;
    std::optional<unitsim::SimLink> link_;
};

int versionFields(std::string reply, int* device = nullptr, std::string* model = nullptr) {
    std::replace(reply.begin(), reply.end(), '\r', ' ');
    std::replace(reply.begin(), reply.end(), '\n', ' ');
    int a = 0, b = 0, c = 0, d = 0, e = 0, f = -1;
    char word[64] = {};
    const int fields =
        std::sscanf(reply.c_str(), "%d.%d.%d %63s %d.%d %d", &a, &b, &c, word, &d, &e, &f);
    if (device != nullptr) {
        *device = f;
    }
    if (model != nullptr) {
        *model = word;
    }
    return fields;
}

TEST_F(UnitModelTest, AnswersTheProbeOnlyAtTheRateItListensAt) {
    UnitModel& unit = attach({}, 9600);
    for (const std::uint32_t baud : {115200U, 57600U, 4800U, 9600U}) {
        Host host(baud, false, 500);
        const std::string reply = host.exchange("%help -c version");
        EXPECT_EQ(reply, baud == 9600 ? system_texts::kProbeReply : "") << baud;
    }
    EXPECT_EQ(unit.frames().size(), 1U);
    EXPECT_EQ(unit.frames()[0].line, (unitsim::Line{9600, false}));
    EXPECT_EQ(unit.garbageBytes(), 3U * 20U);
    EXPECT_TRUE(unit.violations().empty());
}

TEST_F(UnitModelTest, AnswersOnlyWellFormedFrames) {
    struct Case {
        const char* bytes;       // sent before a good "%fw -p" frame
        bool followingAnswered;  // the good frame still gets its answer
    };
    const std::vector<Case> cases{
        {"%fw -v\n\r", true},     // no "%%"
        {"x%%%fw -v\n\r", true},  // stray byte before the frame
        {"%%%fw -x\n\r", true},   // unknown command
        {"%%%fw -l 12 x\n\r", true},
        {"%%%fw -v\r\n", false},  // wrong line end swallows the next frame
    };
    for (const Case& c : cases) {
        sim::reset();
        UnitModel& unit = attach({});
        Host host(9600, true, 1000);
        host.write(c.bytes);
        EXPECT_EQ(host.collect(), "") << c.bytes;
        const std::string reply = host.exchange("%fw -p");
        EXPECT_EQ(reply, c.followingAnswered ? system_texts::kTxIdentity : "") << c.bytes;
        EXPECT_FALSE(unit.violations().empty()) << c.bytes;
    }
}

TEST_F(UnitModelTest, DefaultRepliesOfBothVariants) {
    for (const auto variant : {unitsim::Variant::Tx, unitsim::Variant::Rx}) {
        sim::reset();
        attach(unitsim::configFor(variant, 57600));
        Host host(57600, true, 1000);
        int device = 0;
        std::string model;
        EXPECT_EQ(versionFields(host.exchange("%fw -v"), &device, &model), 7);
        EXPECT_EQ(device, 7);
        EXPECT_LE(model.size(), 7U);
        EXPECT_EQ(host.exchange("%fw -p"), variant == unitsim::Variant::Tx
                                               ? system_texts::kTxIdentity
                                               : system_texts::kRxIdentity);
    }
}

TEST_F(UnitModelTest, ReplyFaults) {
    struct Case {
        Fault fault;
        const char* command;
        std::function<bool(const std::string&)> holds;
    };
    const std::string tx(system_texts::kTxIdentity);
    const std::vector<Case> cases{
        {Fault::WrongIdentity, "%fw -p",
         [&](const std::string& r) {
             return !r.empty() && r != tx && r != system_texts::kRxIdentity;
         }},
        {Fault::IdentityOneMore, "%fw -p",
         [&](const std::string& r) { return r.size() == tx.size() + 1 && r.starts_with(tx); }},
        {Fault::DeviceCode3, "%fw -v",
         [](const std::string& r) {
             int device = 0;
             return versionFields(r, &device) == 7 && device == 3;
         }},
        {Fault::VersionFewerFields, "%fw -v",
         [](const std::string& r) { return versionFields(r) == 6; }},
        {Fault::VersionMultiLine, "%fw -v",
         [](const std::string& r) {
             int device = 0;
             return std::count(r.begin(), r.end(), '\n') >= 3 && versionFields(r, &device) == 7 &&
                    device == 7;
         }},
        {Fault::VersionLongModel, "%fw -v",
         [](const std::string& r) {
             std::string model;
             return versionFields(r, nullptr, &model) == 7 && model.size() > 7;
         }},
        {Fault::Silent, "%fw -v", [](const std::string& r) { return r.empty(); }},
        {Fault::NoReady, "%fw -l 0 0", [](const std::string& r) { return r.empty(); }},
        {Fault::NulInReady, "%fw -l 0 0",
         [](const std::string& r) { return r == std::string("Ready\0 ERROR: flash locked", 26); }},
        {Fault::Reply1023999, "%fw -p", [](const std::string& r) { return r.size() == 1'023'999; }},
    };
    for (const Case& c : cases) {
        sim::reset();
        const UnitModel& unit = attach({c.fault});
        Host host(9600, true, 1000);
        const std::string reply = host.exchange(c.command);
        EXPECT_TRUE(c.holds(reply)) << static_cast<int>(c.fault) << ": " << sim::escape(reply);
        EXPECT_TRUE(unit.transfers().empty()) << static_cast<int>(c.fault);
    }
}

TEST_F(UnitModelTest, SecondProbeOnly) {
    UnitModel& unit = attach({Fault::SecondProbeOnly});
    Host host(9600, false, 500);
    EXPECT_EQ(host.exchange("%help -c version"), "");
    EXPECT_EQ(host.exchange("%help -c version"), system_texts::kProbeReply);
    EXPECT_EQ(unit.frames().size(), 2U);
}

TEST_F(UnitModelTest, SplitReplyComesInTwoPiecesThatOneExchangeJoins) {
    attach({Fault::SplitReply});
    Host host(9600, true, 200);
    const std::string first = host.read();  // the frame is answered within 200 ms
    EXPECT_EQ(first, "");
    host.write("%%%fw -p\n\r");
    const std::string a = host.read();
    const std::string b = host.read();
    EXPECT_FALSE(a.empty());
    EXPECT_FALSE(b.empty());
    EXPECT_EQ(a + b, system_texts::kTxIdentity);
    host.setTimeout(500);
    EXPECT_EQ(host.exchange("%fw -p"), system_texts::kTxIdentity);
}

TEST_F(UnitModelTest, LateReadyArrivesAfterTheCommandTimeOut) {
    attach({Fault::LateReady});
    Host host(9600, true, 10000);
    const sim::Micros start = sim::now();
    EXPECT_EQ(host.exchange("%fw -l 1 1"), "");
    EXPECT_EQ(sim::now() - start, 10'000'000 + 14583);  // the frame's write and one read
    EXPECT_EQ(host.read(), "Ready");
}

TEST_F(UnitModelTest, HugeReplyOutgrowsTheReplyStore) {
    attach({Fault::HugeReply}, 115200);
    Host host(115200, false, 500);
    EXPECT_GT(host.exchange("%help -c version").size(), 1'024'000U);
}

TEST_F(UnitModelTest, ChatterNeverFallsSilent) {
    for (const auto& [fault, text] : {std::pair{Fault::Chatter, std::string(">>")},
                                      std::pair{Fault::NulTrickle, std::string(1, '\0')}}) {
        sim::reset();
        attach({fault});
        Host host(9600, true, 500);
        EXPECT_EQ(host.read(), "") << "no chatter before the first reply";
        host.write("%%%fw -p\n\r");
        EXPECT_TRUE(host.read().starts_with(unitsim::kTxIdentity));
        for (int i = 0; i < 50; ++i) {
            const std::string piece = host.read();
            EXPECT_FALSE(piece.empty()) << i;
            EXPECT_EQ(piece.find_first_not_of(text), std::string::npos) << sim::escape(piece);
        }
    }
}

TEST_F(UnitModelTest, GarbageAtAWrongRateFromTheStartAndNoAnswer) {
    UnitModel& unit = attach({Fault::WrongRateGarbage});
    const auto garbage = [](const std::string& bytes) {
        return !bytes.empty() &&
               bytes.find_first_not_of(unitsim::garbled(">")) == std::string::npos;
    };
    for (const std::uint32_t baud : {9600U, 115200U}) {
        Host host(baud, false, 1500);
        EXPECT_TRUE(garbage(host.read())) << baud;
        EXPECT_TRUE(host.write("%%%help -c version\n\r"));
        EXPECT_TRUE(garbage(host.read())) << "only garbage at " << baud;
    }
    EXPECT_EQ(unit.frames().size(), 1U);
}

TEST_F(UnitModelTest, FullUpdateIsReceivedIntactAndTheUnitReboots) {
    UnitModel& unit = attach(unitsim::configFor(unitsim::Variant::Rx, 9600));
    const std::string logic = pattern(25'000, 7);
    const std::string firmware = pattern(10'241, 99);
    const UpdateRun run = runUpdate(9600, logic, firmware, 9600);
    EXPECT_EQ(run.logicReady, "Ready");
    EXPECT_EQ(run.logicVerdict, "SUCCESS");
    EXPECT_EQ(run.firmwareReady, "Ready");
    EXPECT_EQ(run.firmwareVerdict, "SUCCESS");
    EXPECT_EQ(run.firstRead, "");
    EXPECT_EQ(run.secondRead, unit.config().rebootText);
    EXPECT_TRUE(run.secondRead.starts_with("[") && run.secondRead.ends_with(">>"));

    ASSERT_EQ(unit.transfers().size(), 2U);
    EXPECT_EQ(unit.transfers()[0].command, "%fw -l");
    EXPECT_EQ(unit.transfers()[0].data, logic);
    EXPECT_EQ(unit.transfers()[1].command, "%fw -h");
    EXPECT_EQ(unit.transfers()[1].data, firmware);
    for (const UnitModel::Transfer& transfer : unit.transfers()) {
        EXPECT_EQ(transfer.lines, (std::vector<unitsim::Line>{{115200, true}}));
    }
    // "%fw -l" at the answering rate; "%fw -h" still at 115200.
    ASSERT_EQ(unit.frames().size(), 2U);
    EXPECT_EQ(unit.frames()[0].line, (unitsim::Line{9600, true}));
    EXPECT_EQ(unit.frames()[1].line, (unitsim::Line{115200, true}));
    EXPECT_EQ(unit.reboots(), 1);
    EXPECT_TRUE(unit.violations().empty());
}

TEST_F(UnitModelTest, TheRebootTextIsGarbageToAHostLeftAt115200) {
    UnitModel& unit = attach({});
    const UpdateRun run = runUpdate(9600, pattern(100, 1), pattern(100, 2), 115200);
    EXPECT_EQ(run.secondRead, unitsim::garbled(unit.config().rebootText));
}

TEST_F(UnitModelTest, DataIsRefusedUnlessItsChecksumAndLineAreRight) {
    struct Case {
        const char* what;
        std::uint32_t dataBaud;
        bool cts;
        bool rightChecksum;
    };
    const std::vector<Case> cases{{"checksum", 115200, true, false},
                                  {"no CTS flow control", 115200, false, true},
                                  {"wrong rate", 57600, true, true}};
    for (const Case& c : cases) {
        sim::reset();
        UnitModel& unit = attach({});
        const std::string image = pattern(3000, 5);
        Host host(9600, true, 10000);
        const std::string announced = c.rightChecksum ? loadCommand("%fw -h", image)
                                                      : "%fw -h 1 " + std::to_string(image.size());
        ASSERT_EQ(host.exchange(announced), "Ready");
        host.setLine(c.dataBaud, c.cts);
        host.setTimeout(1000);
        host.sendData(image);
        host.setLine(115200, true);
        EXPECT_EQ(host.collect(), "FAILED") << c.what;
        EXPECT_EQ(unit.reboots(), 0);
        EXPECT_EQ(!unit.violations().empty(), c.rightChecksum) << c.what;
    }
}

TEST_F(UnitModelTest, VerdictFaults) {
    struct Case {
        Fault fault;
        std::string firmwareVerdict;
        std::function<bool(const UpdateRun&)> holds;
    };
    const std::string normal = UnitConfig{}.rebootText;
    const std::vector<Case> cases{
        // Only the text differs: the unit took the images and reboots.
        {Fault::WrongSuccess, "ERROR", [&](const UpdateRun& r) { return r.secondRead == normal; }},
        {Fault::RebootSingleAngle, "SUCCESS",
         [](const UpdateRun& r) {
             return r.secondRead.starts_with("[") && r.secondRead.ends_with("\n>");
         }},
        {Fault::RebootNoBracket, "SUCCESS",
         [](const UpdateRun& r) {
             return !r.secondRead.starts_with("[") && r.secondRead.ends_with(">>");
         }},
        {Fault::RebootBracketOnly, "SUCCESS",
         [](const UpdateRun& r) { return r.secondRead == "["; }},
        {Fault::RebootNothing, "SUCCESS",
         [](const UpdateRun& r) { return r.firstRead.empty() && r.secondRead.empty(); }},
        {Fault::RebootEarly, "SUCCESS",
         [&](const UpdateRun& r) { return r.firstRead == normal && r.secondRead.empty(); }},
        // The images arrived, but the unit does not reboot into them.
        {Fault::NulInSuccess, std::string("SUCCESS\0FAILED", 14),
         [](const UpdateRun& r) { return r.firstRead.empty() && r.secondRead.empty(); }},
    };
    for (const Case& c : cases) {
        sim::reset();
        attach({c.fault});
        const UpdateRun run = runUpdate(9600, pattern(20'480, 3), pattern(5000, 4), 9600);
        EXPECT_EQ(run.logicVerdict, c.firmwareVerdict);
        EXPECT_EQ(run.firmwareVerdict, c.firmwareVerdict);
        EXPECT_TRUE(c.holds(run)) << static_cast<int>(c.fault) << ": first \""
                                  << sim::escape(run.firstRead) << "\" second \""
                                  << sim::escape(run.secondRead) << "\"";
    }
}

TEST_F(UnitModelTest, LineDropsInTheSecondBlockOfData) {
    UnitModel& unit = attach({Fault::LineDrop});
    const std::string image = pattern(25'000, 9);
    Host host(9600, true, 10000);
    ASSERT_EQ(host.exchange(loadCommand("%fw -l", image)), "Ready");
    host.setLine(115200, true);
    host.setTimeout(1000);
    EXPECT_TRUE(host.write(std::string_view(image).substr(0, kBulkChunk)));
    EXPECT_FALSE(host.write(std::string_view(image).substr(kBulkChunk, kBulkChunk)));
    EXPECT_FALSE(host.write("%%%fw -v\n\r"));
    EXPECT_EQ(host.collect(), "");
    EXPECT_TRUE(unit.lineDown());
    EXPECT_EQ(unit.transfers()[0].data, image.substr(0, 15'000));
}

// Faults that strike inside a transfer or at the reboot, seen over a whole
// update: what the host reads, what the unit took, and whether the line held.
TEST_F(UnitModelTest, FaultsInsideATransferOrAtTheReboot) {
    const std::string logic = pattern(25'000, 3);
    const std::string firmware = pattern(25'000, 4);
    const std::string reboot = UnitConfig{}.rebootText;
    struct Case {
        Fault fault;
        std::uint32_t baud;
        std::string logicVerdict, firmwareVerdict, secondRead;
        std::size_t logicTaken, firmwareTaken;  // data bytes the unit took
        bool lineDown;
    };
    const std::vector<Case> cases{
        {Fault::LineDropInFirmware, 9600, "SUCCESS", "", "", 25'000, 15'000, true},
        {Fault::LineDropWhileRebooting, 9600, "SUCCESS", "SUCCESS", "", 25'000, 25'000, true},
        // Hung: the rest of the data and every later frame go nowhere.
        {Fault::SilentInTransfer, 9600, "", "", "", 15'000, 0, false},
        // Back after its restart, at its own rate: the reboot text is the
        // reply to the data, and the unit then takes "%fw -h" afresh.
        {Fault::RestartInTransfer, 115200, reboot, "SUCCESS", reboot, 15'000, 25'000, false},
        {Fault::CtsHeld10s, 9600, "SUCCESS", "SUCCESS", reboot, 25'000, 25'000, false},
    };
    for (const Case& c : cases) {
        sim::reset();
        const UnitModel& unit = attach({c.fault}, c.baud);
        const UpdateRun run = runUpdate(c.baud, logic, firmware, c.baud);
        const int id = static_cast<int>(c.fault);
        EXPECT_EQ(run.logicVerdict, c.logicVerdict) << id << ": " << sim::escape(run.logicVerdict);
        EXPECT_EQ(run.firmwareVerdict, c.firmwareVerdict) << id;
        EXPECT_EQ(run.secondRead, c.secondRead) << id << ": " << sim::escape(run.secondRead);
        ASSERT_FALSE(unit.transfers().empty()) << id;
        EXPECT_EQ(unit.transfers()[0].data, logic.substr(0, c.logicTaken)) << id;
        const std::size_t firmwareTaken =
            unit.transfers().size() > 1 ? unit.transfers()[1].data.size() : 0;
        EXPECT_EQ(firmwareTaken, c.firmwareTaken) << id;
        EXPECT_EQ(unit.lineDown(), c.lineDown) << id;
    }
}

TEST_F(UnitModelTest, CtsHeldOffHoldsTheHostsWritesForItsTime) {
    UnitConfig config = unitsim::configFor(unitsim::Variant::Tx, 9600);
    unitsim::applyFault(config, Fault::CtsHeld10s);
    config.ctsHold = 4'000 * unitsim::kMillis;
    attach(std::move(config));
    const std::string image = pattern(25'000, 6);
    Host host(9600, true, 10000);
    ASSERT_EQ(host.exchange(loadCommand("%fw -l", image)), "Ready");
    host.setLine(115200, true);
    host.setTimeout(1000);
    const sim::Micros start = sim::now();
    EXPECT_TRUE(host.sendData(image));
    // 25,000 bytes at 115,200 baud take some 2.17 s; the hold comes on top.
    const sim::Micros elapsed = sim::now() - start;
    EXPECT_GE(elapsed, 4'000'000 + 2'170'000);
    EXPECT_LT(elapsed, 4'000'000 + 2'180'000);
    EXPECT_EQ(host.collect(), "SUCCESS");
}

TEST_F(UnitModelTest, EveryFaultHasOneRowAndAUniqueName) {
    std::vector<std::string_view> names;
    for (const unitsim::FaultEntry& entry : unitsim::kFaults) {
        EXPECT_EQ(unitsim::faultFromName(entry.name), entry.fault) << entry.name;
        EXPECT_FALSE(entry.description.empty()) << entry.name;
        names.push_back(entry.name);
    }
    std::ranges::sort(names);
    EXPECT_EQ(std::ranges::adjacent_find(names), names.end());
    EXPECT_EQ(unitsim::faultFromName("no-such-fault"), std::nullopt);
}

TEST_F(UnitModelTest, ReportListsFramesTransfersAndViolations) {
    UnitModel& unit = attach({});
    {
        Host host(9600, false, 500);
        host.exchange("%help -c version");
        host.write("bad\n\r");
        host.collect();
        host.setLine(9600, true);
        host.exchange("%fw -h 0 0");
        host.collect();
    }
    const std::string report = unit.report();
    EXPECT_NE(report.find("frame t=0.020833 baud=9600 cts=0 command=\"%help -c version\"\n"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("transfer command=\"%fw -h\" checksum=0 length=0 received=0 sum=0 lines= "
                          "result=success\n"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("violation t="), std::string::npos) << report;
    EXPECT_NE(report.find("malformed frame \"bad\""), std::string::npos) << report;
}

}  // namespace
