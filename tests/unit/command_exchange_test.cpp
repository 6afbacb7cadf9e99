// sendCommand and sendData on the simulated platform, in virtual time: the
// frame on the wire, the reply collection until one silent read, the
// comparison, the percentage display and the failures.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "ComPortAPI.h"
#include "Console.h"
#include "ScriptedFarEnd.h"
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

constexpr int kPort = 3;
constexpr Micros kMs = 1000;
constexpr char kSendError[] = "\r\nError occurred when sending data !\r\n";

std::vector<std::size_t> writeSizes() {
    std::vector<std::size_t> sizes;
    for (const sim::Event& write : sim::events(EventKind::Write, kPort)) {
        sizes.push_back(write.text.size());
    }
    return sizes;
}

// The bytes each read brought, in order.
std::vector<std::string> readPieces() {
    std::vector<std::string> pieces;
    for (const sim::Event& read : sim::events(EventKind::Read, kPort)) {
        pieces.push_back(read.text);
    }
    return pieces;
}

class CommandExchange : public SimRun {
  protected:
    void SetUp() override {
        SimRun::SetUp();
        prepareBuffers();
    }
};

struct FramingCase {
    const char* name;
    const char* command;
    int isEchoON;
    int validateResponse;
    const char* expectedResponse;
    std::string wire;
    int result;
    std::size_t reads;
    std::string bufferAfter;
};

TEST_F(CommandExchange, FrameAndWhetherTheReplyIsRead) {
    const std::vector<FramingCase> cases{
        {"echo off, no expected reply", "%fw -v", 0, 0, nullptr, "%%%fw -v\n\r", 1, 0,
         "%%%fw -v\n\r"},
        {"echo on: no prefix", "%fw -v", 1, 0, nullptr, "%fw -v\n\r", 1, 0, "%fw -v\n\r"},
        {"echo other than 1 counts as off", "%fw -v", 2, 0, nullptr, "%%%fw -v\n\r", 1, 0,
         "%%%fw -v\n\r"},
        {"no expected reply, validation on", "%fw -p", 0, 1, nullptr, "%%%fw -p\n\r", 1, 0,
         "%%%fw -p\n\r"},
        {"silent unit, validation on", "%fw -p", 0, 1, kTxIdentity.c_str(), "%%%fw -p\n\r", 0, 1,
         ""},
        {"silent unit, validation off", "%fw -p", 0, 0, kTxIdentity.c_str(), "%%%fw -p\n\r", 1, 1,
         ""},
        {"silent unit, validation 2 is off", "%fw -p", 0, 2, kTxIdentity.c_str(), "%%%fw -p\n\r", 1,
         1, ""},
        {"silent unit, empty text expected", "%fw -p", 0, 1, "", "%%%fw -p\n\r", 1, 1, ""},
    };
    for (const FramingCase& c : cases) {
        SCOPED_TRACE(c.name);
        startRow();
        sim::addSilentPort(kPort);
        openPort(kPort, 9600, false);

        EXPECT_EQ(sendCommand(c.command, c.isEchoON, c.validateResponse, c.expectedResponse),
                  c.result);
        EXPECT_EQ(writeSizes(), std::vector<std::size_t>{c.wire.size()});
        EXPECT_EQ(sim::bytesSent(kPort), c.wire);
        const std::vector<std::string> pieces = readPieces();
        EXPECT_EQ(pieces.size(), c.reads);
        for (const sim::Event& read : sim::events(EventKind::Read, kPort)) {
            EXPECT_EQ(read.value, 1023999u);
            EXPECT_EQ(read.duration, 500 * kMs);
        }
        EXPECT_EQ(std::string(gDataBuffer), c.bufferAfter);
        EXPECT_EQ(sim::consoleText(), "");
    }
}

struct ReplyCase {
    const char* name;
    std::vector<ScriptedFarEnd::Piece> pieces;
    int validateResponse;
    int result;
    std::vector<std::string> reads;  // what each read brought
};

// Read time-out 1000 ms, as during identification.
TEST_F(CommandExchange, ReplyIsCollectedUntilOneSilentReadAndComparedWhole) {
    const std::string identity = kTxIdentity;
    const std::string head = identity.substr(0, 20);
    const std::string tail = identity.substr(20);
    const std::string withNul = std::string(1, '\0') + "junk";
    const std::vector<ReplyCase> cases{
        {"exact reply", {{100 * kMs, identity}}, 1, 1, {identity, ""}},
        {"two pieces, the second in the next read",
         {{900 * kMs, head}, {1500 * kMs, tail}},
         1,
         1,
         {head, tail, ""}},
        {"one character more", {{100 * kMs, identity + ">"}}, 1, 0, {identity + ">", ""}},
        {"one character less", {{100 * kMs, identity.substr(1)}}, 1, 0, {identity.substr(1), ""}},
        // A NUL is a byte of the reply like any other.
        {"NUL after the text", {{100 * kMs, identity + withNul}}, 1, 0, {identity + withNul, ""}},
        {"piece that starts with NUL",
         {{100 * kMs, withNul}, {1500 * kMs, identity}},
         1,
         0,
         {withNul, identity, ""}},
        {"NUL alone", {{100 * kMs, std::string(1, '\0')}}, 1, 0, {std::string(1, '\0'), ""}},
        {"ESC inside", {{100 * kMs, head + "\x1b" + tail}}, 1, 0, {head + "\x1b" + tail, ""}},
        {"other text, validation off, read to the end",
         {{100 * kMs, head}, {1500 * kMs, tail}},
         0,
         1,
         {head, tail, ""}},
        {"reply later than one time-out is silence", {{1100 * kMs, identity}}, 1, 0, {""}},
        {"pause of a whole time-out cuts the reply",
         {{100 * kMs, head}, {2200 * kMs, tail}},
         1,
         0,
         {head, ""}},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        startRow();
        ScriptedFarEnd unit(c.pieces);
        sim::addUnitPort(kPort, unit);
        openPort(kPort, 9600, true);
        ComPortAPI_SetReadingTimeoutInMs(1000);

        EXPECT_EQ(sendCommand("%fw -p", 0, c.validateResponse, kTxIdentity.c_str()), c.result);
        EXPECT_EQ(readPieces(), c.reads);
        EXPECT_EQ(unit.received(), "%%%fw -p\n\r");
        EXPECT_EQ(sim::consoleText(), "");
    }
}

// `text` cut into `count` pieces, one every `period` from 100 ms on.
std::vector<ScriptedFarEnd::Piece> spreadOver(const std::string& text, std::size_t count,
                                              Micros period) {
    std::vector<ScriptedFarEnd::Piece> pieces;
    const std::size_t size = (text.size() + count - 1) / count;
    for (std::size_t i = 0; i < count; ++i) {
        pieces.push_back(
            {100 * kMs + static_cast<Micros>(i) * period, text.substr(i * size, size)});
    }
    return pieces;
}

struct BoundCase {
    const char* name;
    std::vector<ScriptedFarEnd::Piece> pieces;
    int result;
};

// Read time-out 500 ms, as in discovery. A line that never falls silent costs
// one collection at most eight reads, 4 s, and matches nothing; a reply that
// falls silent within them is compared as usual.
TEST_F(CommandExchange, ReplyCollectionIsBoundedInReads) {
    const std::string identity = kTxIdentity;
    const std::vector<BoundCase> cases{
        {"a line that never falls silent", spreadOver(std::string(6000, 'x'), 600, 100 * kMs), 0},
        {"a trickle of NULs", spreadOver(std::string(200, '\0'), 200, 400 * kMs), 0},
        {"the reply in seven reads, then silence", spreadOver(identity, 7, 500 * kMs), 1},
        {"the reply still growing at the eighth read", spreadOver(identity, 8, 500 * kMs), 0},
    };
    for (const BoundCase& c : cases) {
        SCOPED_TRACE(c.name);
        startRow();
        ScriptedFarEnd unit(c.pieces);
        sim::addUnitPort(kPort, unit);
        openPort(kPort, 9600, false);
        ComPortAPI_SetReadingTimeoutInMs(500);

        EXPECT_EQ(sendCommand("%fw -p", 0, 1, kTxIdentity.c_str()), c.result);
        const std::vector<sim::Event> reads = sim::events(EventKind::Read, kPort);
        EXPECT_EQ(reads.size(), 8u);
        Micros reading = 0;
        for (const sim::Event& read : reads) {
            reading += read.duration;
        }
        EXPECT_EQ(reading, 8 * 500 * kMs);
    }
}

TEST_F(CommandExchange, FailedWriteIsReportedAndNothingIsRead) {
    ScriptedFarEnd unit({{100 * kMs, kTxIdentity}});
    unit.refuseWrite(1);
    sim::addUnitPort(kPort, unit);
    openPort(kPort, 9600, true);

    EXPECT_EQ(sendCommand("%fw -p", 0, 1, kTxIdentity.c_str()), 0);
    EXPECT_EQ(sim::consoleText(), kSendError);
    EXPECT_TRUE(sim::events(EventKind::Read).empty());
}

// The frame "%%" + command + "\n\r" and its NUL must fit in the 1,024,000-byte
// scratch buffer: the longest command that fits goes out whole, one character
// more is refused with the send error before anything is written.
TEST_F(CommandExchange, CommandTooLongForTheScratchBufferIsNotSent) {
    constexpr std::size_t kLongestCommand = 1024000 - 5;
    struct Case {
        std::size_t length;
        int result;
        std::string console;
        bool sent;
    };
    const std::vector<Case> cases{
        {kLongestCommand, 1, "", true},
        {kLongestCommand + 1, 0, kSendError, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        startRow();
        sim::addSilentPort(kPort);
        openPort(kPort, 115200, true);
        const std::string command(c.length, 'v');

        EXPECT_EQ(sendCommand(command.c_str(), 0, 0, nullptr), c.result);
        EXPECT_EQ(sim::consoleText(), c.console);
        EXPECT_EQ(sim::bytesSent(kPort), c.sent ? "%%" + command + "\n\r" : "");
        EXPECT_TRUE(sim::events(EventKind::Read).empty());
    }
}

// The pattern the unit model repeats in a reply that is too long.
std::string hugePattern(std::size_t length) {
    std::string text;
    while (text.size() < length) {
        text += "0123456789abcdef";
    }
    text.resize(length);
    return text;
}

// A reply of 1,100,000 bytes outgrows the 1,023,999 characters of the reply
// store: the collection stops there and no text can match it, not even the
// part that fitted. The read time-out is long enough for one read to fill
// the store, so that the store, not the count of reads, stops it.
TEST_F(CommandExchange, ReplyLongerThanTheStoreStopsAtItsCapacityAndFails) {
    struct Case {
        int validateResponse;
        int result;
    };
    for (const Case c : {Case{1, 0}, Case{0, 1}}) {
        SCOPED_TRACE(c.validateResponse);
        startRow();
        unitsim::UnitConfig config = unitsim::configFor(unitsim::Variant::Tx, 115200);
        unitsim::applyFault(config, unitsim::Fault::HugeReply);
        unitsim::UnitModel model(config);
        unitsim::SimLink link(model);
        sim::addUnitPort(kPort, link);
        openPort(kPort, 115200, true);
        ComPortAPI_SetReadingTimeoutInMs(100000);

        const std::string storeFull = hugePattern(1023999);
        EXPECT_EQ(sendCommand("%fw -p", 0, c.validateResponse, storeFull.c_str()), c.result);
        const std::vector<std::string> pieces = readPieces();
        ASSERT_FALSE(pieces.empty());
        EXPECT_FALSE(pieces.back().empty()) << "no read after the store is full";
        ASSERT_EQ(pieces.size(), 2u);
        EXPECT_EQ(pieces[0].size(), 1023999u);
        EXPECT_EQ(sim::consoleText(), "");
    }
}

struct PercentageCase {
    std::int32_t length;
    std::string console;
    std::vector<std::size_t> writes;
};

TEST_F(CommandExchange, DataGoesOutInChunksWithAPercentageDisplay) {
    const std::vector<PercentageCase> cases{
        {0, "1%", {}},
        {1, "1%\b\b100%", {1}},
        {10240, "1%\b\b100%", {10240}},
        {10241, "1%\b\b99%\b\b\b100%", {10240, 1}},
        {20480, "1%\b\b50%\b\b\b100%", {10240, 10240}},
        {25000, "1%\b\b40%\b\b\b81%\b\b\b100%", {10240, 10240, 4520}},
    };
    for (const PercentageCase& c : cases) {
        SCOPED_TRACE(c.length);
        startRow();
        sim::addSilentPort(kPort);
        openPort(kPort, 115200, true);
        std::string block(static_cast<std::size_t>(c.length), '\0');
        for (std::size_t i = 0; i < block.size(); ++i) {
            block[i] = static_cast<char>(i * 7 + i / 256);
        }

        EXPECT_EQ(
            sendData(reinterpret_cast<const std::uint8_t*>(block.data()), c.length, 1, nullptr), 1);
        EXPECT_EQ(sim::consoleText(), c.console);
        EXPECT_EQ(writeSizes(), c.writes);
        EXPECT_EQ(sim::bytesSent(kPort), block);
        EXPECT_TRUE(sim::events(EventKind::Read).empty());
    }
}

// With more than 1,024,000 bytes the first writes show 0% after the initial
// 1%.
TEST_F(CommandExchange, LargeBlockShowsZeroPercentAfterTheFirstDisplay) {
    sim::addSilentPort(kPort);
    openPort(kPort, 115200, true);
    ASSERT_EQ(sendData(gDataConcatenated, CONCAT_BUFFER_SIZE, 1, nullptr), 1);
    const std::string console = sim::consoleText();
    EXPECT_TRUE(console.starts_with("1%\b\b0%\b\b0%\b\b0%\b\b0%\b\b1%\b\b"))
        << sim::escape(console);
    EXPECT_TRUE(console.ends_with("\b\b\b99%\b\b\b100%")) << sim::escape(console.substr(0, 80));
    EXPECT_EQ(writeSizes().size(), 410u);
}

struct DataReplyCase {
    const char* name;
    std::vector<ScriptedFarEnd::Piece> pieces;
    int validateResponse;
    const char* expectedResponse;
    int result;
    std::string console;
    std::size_t reads;
};

// A 25,000-byte block; the far end answers after the last byte.
TEST_F(CommandExchange, DataReplyIsCheckedAndAMismatchShown) {
    const std::string display = "1%\b\b40%\b\b\b81%\b\b\b100%";
    const auto mismatch = [&display](const std::string& received) {
        return display + "\r\nExpected : SUCCESS  received : " + received + "\r\n" +
               kResponseMismatch;
    };
    const std::vector<DataReplyCase> cases{
        {"expected reply", {{200 * kMs, "SUCCESS"}}, 1, "SUCCESS", 1, display, 2},
        {"silent unit", {}, 1, "SUCCESS", 0, mismatch(""), 1},
        {"other reply", {{200 * kMs, "FAILED"}}, 1, "SUCCESS", 0, mismatch("FAILED"), 2},
        {"reply in two pieces",
         {{900 * kMs, "SUC"}, {1500 * kMs, "CESS"}},
         1,
         "SUCCESS",
         1,
         display,
         3},
        {"validation off: read and ignored", {{200 * kMs, "FAILED"}}, 0, "SUCCESS", 1, display, 2},
        {"no expected reply: nothing read", {{200 * kMs, "SUCCESS"}}, 1, nullptr, 1, display, 0},
    };
    constexpr std::int32_t kLength = 25000;
    const std::string block(kLength, 'x');
    for (const DataReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        startRow();
        ScriptedFarEnd unit(c.pieces);
        unit.replyAfterBytes(kLength);
        sim::addUnitPort(kPort, unit);
        openPort(kPort, 115200, true);
        ComPortAPI_SetReadingTimeoutInMs(1000);

        EXPECT_EQ(sendData(reinterpret_cast<const std::uint8_t*>(block.data()), kLength,
                           c.validateResponse, c.expectedResponse),
                  c.result);
        EXPECT_EQ(sim::consoleText(), c.console) << sim::escape(sim::consoleText());
        EXPECT_EQ(readPieces().size(), c.reads);
        EXPECT_EQ(unit.received(), block);
    }
}

TEST_F(CommandExchange, DataReplyLongerThanTheStoreFailsWithWhatFitted) {
    const std::string huge = hugePattern(1100000);
    ScriptedFarEnd unit({{200 * kMs, huge}});
    unit.replyAfterBytes(1);
    sim::addUnitPort(kPort, unit);
    openPort(kPort, 115200, true);
    ComPortAPI_SetReadingTimeoutInMs(1000);

    const std::uint8_t byte = 0x42;
    EXPECT_EQ(sendData(&byte, 1, 1, huge.c_str()), 0);
    EXPECT_EQ(sim::consoleText(), "1%\b\b100%\r\nExpected : " + huge + "  received : " +
                                      huge.substr(0, 1023999) + "\r\n" + kResponseMismatch);
    EXPECT_EQ(readPieces().size(), 2u) << "no read after the store is full";
}

// A refused write ends the transfer where it stands: no "100%", no line, and
// no reply is read.
TEST_F(CommandExchange, RefusedWriteEndsTheTransferSilently) {
    struct Case {
        const char* name;
        int refusedWrite;
        std::string console;
        std::vector<std::size_t> writes;
    };
    const std::vector<Case> cases{
        {"a full chunk", 2, "1%\b\b40%", {10240, 10240}},
        {"the last, shorter write", 3, "1%\b\b40%\b\b\b81%", {10240, 10240, 4520}},
    };
    const std::string block(25000, 'x');
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startRow();
        ScriptedFarEnd unit({{200 * kMs, "SUCCESS"}});
        unit.refuseWrite(c.refusedWrite);
        sim::addUnitPort(kPort, unit);
        openPort(kPort, 115200, true);

        EXPECT_EQ(
            sendData(reinterpret_cast<const std::uint8_t*>(block.data()), 25000, 1, "SUCCESS"), 0);
        EXPECT_EQ(sim::consoleText(), c.console);
        EXPECT_EQ(writeSizes(), c.writes);
        EXPECT_FALSE(sim::events(EventKind::Write, kPort).back().ok);
        EXPECT_TRUE(sim::events(EventKind::Read).empty());
    }
}

TEST_F(CommandExchange, NegativeBlockLengthIsRefused) {
    sim::addSilentPort(kPort);
    openPort(kPort, 115200, true);
    for (const std::int32_t length : {-1, -10240, std::numeric_limits<std::int32_t>::min()}) {
        SCOPED_TRACE(length);
        EXPECT_EQ(sendData(gDataConcatenated, length, 1, "SUCCESS"), 0);
    }
    EXPECT_EQ(sim::consoleText(), "");
    EXPECT_TRUE(sim::events(EventKind::Write).empty());
    EXPECT_TRUE(sim::events(EventKind::Read).empty());
}

// What the operator typed ahead goes before each exchange starts, and again
// after the last write of a block.
TEST_F(CommandExchange, TypedAheadInputIsDiscarded) {
    sim::addSilentPort(kPort);
    openPort(kPort, 115200, true);
    sim::setConsoleInput("3 typed ahead\n4 more\nlast\n");

    // A key taken leaves the rest of its line buffered.
    platform::consoleWaitKey();
    sendCommand("%fw -v", 0, 0, nullptr);
    EXPECT_EQ(sim::pendingConsoleInput(), "4 more\nlast\n");

    platform::consoleWaitKey();
    const std::uint8_t byte = 0;
    sendData(&byte, 1, 1, nullptr);
    EXPECT_EQ(sim::pendingConsoleInput(), "last\n");

    std::vector<EventKind> order;
    for (const sim::Event& event : sim::transcript()) {
        if (event.kind == EventKind::Discard || event.kind == EventKind::Write) {
            order.push_back(event.kind);
        }
    }
    EXPECT_EQ(order,
              (std::vector<EventKind>{EventKind::Discard, EventKind::Write, EventKind::Discard,
                                      EventKind::Write, EventKind::Discard}));
}

}  // namespace
