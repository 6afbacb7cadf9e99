#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Platform.h"
#include "ScriptedFarEnd.h"
#include "SimPlatform.h"

namespace {

namespace sim = platform::sim;
using sim::EventKind;
using sim::Micros;

constexpr Micros kMs = 1000;

DCB lineSettings(std::uint32_t baud, bool cts) {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = baud;
    dcb.fBinary = 1;
    dcb.fOutxCtsFlow = cts ? 1 : 0;
    dcb.ByteSize = 8;
    return dcb;
}

COMMTIMEOUTS readTimeout(std::uint32_t ms) {
    return {ms, 0, ms, 0, 0};
}

platform::SerialHandle openAt(int port, std::uint32_t baud, bool cts, std::uint32_t timeoutMs) {
    const std::string path = "\\\\.\\COM" + std::to_string(port);
    const platform::SerialHandle handle = platform::serialOpen(path.c_str());
    platform::serialSetTimeouts(handle, readTimeout(timeoutMs));
    platform::serialSetState(handle, lineSettings(baud, cts));
    platform::serialPurge(handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    return handle;
}

std::string readOnce(platform::SerialHandle handle, std::uint32_t count = 1023999) {
    std::string buffer(count, '\0');
    std::uint32_t got = 0;
    EXPECT_TRUE(platform::serialRead(handle, buffer.data(), count, &got));
    buffer.resize(got);
    return buffer;
}

bool writeText(platform::SerialHandle handle, std::string_view text) {
    std::uint32_t written = 0;
    return platform::serialWrite(handle, text.data(), static_cast<std::uint32_t>(text.size()),
                                 &written);
}

class SimPlatformTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::reset(); }
    void TearDown() override { sim::reset(); }
};

TEST_F(SimPlatformTest, OpenSucceedsOnlyOnPresentFreePorts) {
    ScriptedFarEnd unit;
    sim::addSilentPort(1);
    sim::addBusyPort(2);
    sim::addUnitPort(3, unit);
    struct Case {
        const char* path;
        bool opens;
    };
    const std::vector<Case> cases{{"\\\\.\\COM1", true},   {"\\\\.\\COM2", false},
                                  {"\\\\.\\COM3", true},   {"\\\\.\\COM4", false},
                                  {"\\\\.\\COM01", false}, {"COM1", false}};
    for (const Case& c : cases) {
        const platform::SerialHandle handle = platform::serialOpen(c.path);
        EXPECT_EQ(handle != platform::kInvalidSerialHandle, c.opens) << c.path;
        platform::serialClose(handle);
    }
}

TEST_F(SimPlatformTest, EveryOperationFailsWithoutAPort) {
    char buffer[4] = {};
    std::uint32_t count = 99;
    for (const platform::SerialHandle handle :
         {platform::kNoSerialHandle, platform::kInvalidSerialHandle}) {
        EXPECT_FALSE(platform::serialSetTimeouts(handle, readTimeout(500)));
        EXPECT_FALSE(platform::serialSetState(handle, lineSettings(9600, false)));
        EXPECT_FALSE(platform::serialSetupQueues(handle, 8192, 8192));
        EXPECT_FALSE(platform::serialPurge(handle, PURGE_RXCLEAR));
        EXPECT_FALSE(platform::serialEscape(handle, SETDTR));
        EXPECT_FALSE(platform::serialRead(handle, buffer, 4, &count));
        EXPECT_EQ(count, 0U);
        count = 99;
        EXPECT_FALSE(platform::serialWrite(handle, buffer, 4, &count));
        EXPECT_EQ(count, 0U);
    }
    EXPECT_EQ(sim::now(), 0);
}

TEST_F(SimPlatformTest, RatesADriverCannotSetAreRefusedAndTheOldRateStays) {
    sim::addSilentPort(1);
    const platform::SerialHandle handle = openAt(1, 9600, false, 500);
    for (const std::uint32_t refused : {0U, static_cast<std::uint32_t>(-9600), 12345U}) {
        EXPECT_FALSE(platform::serialSetState(handle, lineSettings(refused, true))) << refused;
        EXPECT_EQ(sim::openPortLine(1)->baud, 9600U);
        EXPECT_FALSE(sim::openPortLine(1)->ctsFlow);
    }
    for (const std::uint32_t accepted : {1200U, 2400U, 4800U, 9600U, 57600U, 115200U}) {
        EXPECT_TRUE(platform::serialSetState(handle, lineSettings(accepted, true))) << accepted;
        EXPECT_EQ(sim::openPortLine(1)->baud, accepted);
        EXPECT_TRUE(sim::openPortLine(1)->ctsFlow);
    }
}

TEST_F(SimPlatformTest, ReadEndsWhenItsCountHasArrived) {
    ScriptedFarEnd unit;
    unit.sendAt(100 * kMs, "abc");
    unit.sendAt(300 * kMs, "defg");
    sim::addUnitPort(1, unit);
    const platform::SerialHandle handle = openAt(1, 9600, false, 1000);
    EXPECT_EQ(readOnce(handle, 5), "abcde");
    EXPECT_EQ(sim::now(), 300 * kMs);
    // The rest waits in the queue for the next read, which still lasts its time-out.
    EXPECT_EQ(readOnce(handle), "fg");
    EXPECT_EQ(sim::now(), 1300 * kMs);
}

TEST_F(SimPlatformTest, BytesBetweenReadsWaitButOpenAndPurgeDropThem) {
    ScriptedFarEnd unit;
    unit.sendAt(50 * kMs, "early");
    unit.sendAt(700 * kMs, "late");
    unit.sendAt(1600 * kMs, "queued");
    sim::addUnitPort(1, unit);
    platform::sleepMs(100);
    platform::SerialHandle handle = openAt(1, 9600, false, 500);
    EXPECT_EQ(readOnce(handle), "");  // "early" came before the open
    platform::sleepMs(400);
    EXPECT_EQ(readOnce(handle), "late");  // waited in the queue
    platform::sleepMs(100);
    EXPECT_TRUE(platform::serialPurge(handle, PURGE_RXCLEAR));
    EXPECT_EQ(readOnce(handle), "");
    EXPECT_EQ(sim::events(EventKind::Purge, 1).back().text, "queued");
}

TEST_F(SimPlatformTest, WriteTakesTenBitTimesPerByte) {
    ScriptedFarEnd unit;
    sim::addUnitPort(1, unit);
    struct Case {
        std::uint32_t baud;
        std::size_t bytes;
        Micros micros;
    };
    const std::vector<Case> cases{{9600, 10, 10416}, {115200, 10240, 888888}, {1200, 1, 8333}};
    platform::SerialHandle handle = openAt(1, 9600, false, 500);
    for (const Case& c : cases) {
        platform::serialSetState(handle, lineSettings(c.baud, false));
        const Micros start = sim::now();
        EXPECT_TRUE(writeText(handle, std::string(c.bytes, 'x')));
        EXPECT_EQ(sim::now() - start, c.micros) << c.baud;
        EXPECT_EQ(unit.writeEnds().back(), sim::now());
    }
}

TEST_F(SimPlatformTest, WriteFailsWhenTheLineIsDown) {
    ScriptedFarEnd unit;
    sim::addUnitPort(1, unit);
    platform::SerialHandle handle = openAt(1, 9600, false, 500);
    unit.takeLineDown();
    std::uint32_t written = 99;
    EXPECT_FALSE(platform::serialWrite(handle, "abc", 3, &written));
    EXPECT_EQ(written, 0U);
    EXPECT_FALSE(sim::events(EventKind::Write, 1).back().ok);
    EXPECT_EQ(sim::bytesSent(1), "");
}

TEST_F(SimPlatformTest, SleepAdvancesExactly) {
    platform::sleepMs(3000);
    platform::sleepMs(0);
    platform::sleepMs(1);
    EXPECT_EQ(sim::now(), 3001 * kMs);
}

TEST_F(SimPlatformTest, ConsoleReadLineTakesOneLine) {
    struct Case {
        std::string input;
        bool reads;
        std::string line;
        std::string left;
    };
    const std::string longLine(platform::kConsoleLineLimit + 10, '7');
    const std::vector<Case> cases{
        {"7\n8\n", true, "7", "8\n"},
        {"\n8\n", true, "", "8\n"},
        {"  -12x", true, "  -12x", ""},
        {"", false, "", ""},
        {longLine + "\nnext", true, longLine.substr(0, platform::kConsoleLineLimit), "next"},
    };
    for (const Case& c : cases) {
        sim::reset();
        sim::setConsoleInput(c.input);
        std::string line = "left from before";
        EXPECT_EQ(platform::consoleReadLine(line), c.reads) << c.input;
        EXPECT_EQ(line, c.line) << c.input;
        EXPECT_EQ(sim::pendingConsoleInput(), c.left) << c.input;
        const std::vector<sim::Event> reads = sim::events(EventKind::ConsoleRead);
        ASSERT_EQ(reads.size(), 1U);
        EXPECT_EQ(reads[0].ok, c.reads);
        EXPECT_EQ(reads[0].text, c.input.substr(0, c.input.size() - c.left.size()));
    }
}

TEST_F(SimPlatformTest, DiscardDropsOnlyThePartlyReadLine) {
    sim::setConsoleInput("3\n9600 junk\nxy");
    platform::consoleDiscardInput();  // nothing typed yet
    std::string line;
    ASSERT_TRUE(platform::consoleReadLine(line));
    platform::consoleDiscardInput();
    EXPECT_EQ(sim::pendingConsoleInput(), "9600 junk\nxy");
    platform::consoleWaitKey();
    platform::consoleDiscardInput();
    EXPECT_EQ(sim::pendingConsoleInput(), "xy");
    platform::consoleWaitKey();
    EXPECT_EQ(sim::pendingConsoleInput(), "y");
    platform::consoleWaitKey();
    platform::consoleWaitKey();  // end of input: returns at once
    const std::vector<sim::Event> keys = sim::events(EventKind::Key);
    ASSERT_EQ(keys.size(), 4U);
    EXPECT_EQ(keys[3].text, "");
    std::vector<std::string> dropped;
    for (const sim::Event& e : sim::events(EventKind::Discard)) {
        dropped.push_back(e.text);
    }
    EXPECT_EQ(dropped, (std::vector<std::string>{"", "", "600 junk\n"}));
}

// The operator is asked only once the script has run out, for what the
// program waits for; what the operator types continues the script, and no
// answer is the end of input.
TEST_F(SimPlatformTest, OperatorInputContinuesTheScriptWhenItRunsOut) {
    std::vector<sim::OperatorEntry> asked;
    std::vector<std::optional<std::string>> answers{"12\n", "k", std::nullopt, std::nullopt};
    sim::setOperatorInput([&](sim::OperatorEntry entry) {
        asked.push_back(entry);
        std::optional<std::string> answer = answers.at(asked.size() - 1);
        return answer;
    });
    sim::setConsoleInput("3\n");
    std::string line;
    ASSERT_TRUE(platform::consoleReadLine(line));
    EXPECT_EQ(line, "3");
    EXPECT_TRUE(asked.empty());
    ASSERT_TRUE(platform::consoleReadLine(line));
    EXPECT_EQ(line, "12");
    platform::consoleWaitKey();
    EXPECT_FALSE(platform::consoleReadLine(line));
    platform::consoleWaitKey();
    EXPECT_EQ(asked,
              (std::vector<sim::OperatorEntry>{sim::OperatorEntry::Line, sim::OperatorEntry::Key,
                                               sim::OperatorEntry::Line, sim::OperatorEntry::Key}));
    std::vector<std::string> keys;
    for (const sim::Event& e : sim::events(EventKind::Key)) {
        keys.push_back(e.text);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"k", ""}));

    sim::reset();
    std::string afterReset = "unchanged";
    EXPECT_FALSE(platform::consoleReadLine(afterReset));
    EXPECT_EQ(asked.size(), 4U);
}

TEST_F(SimPlatformTest, TranscriptRecordsEverythingWithItsTime) {
    ScriptedFarEnd unit;
    unit.sendAt(600 * kMs, "ok\r\n");
    sim::addUnitPort(1, unit);
    platform::consolePrintf("Opening COM%d", 1);
    EXPECT_EQ(platform::serialOpen("\\\\.\\COM2"), platform::kInvalidSerialHandle);
    const platform::SerialHandle handle = openAt(1, 9600, false, 500);
    platform::serialSetState(handle, lineSettings(12345, false));
    writeText(handle, "%%%fw -v\n\r");
    readOnce(handle);
    readOnce(handle);
    platform::sleepMs(3000);
    platform::serialClose(handle);
    platform::consoleSelectStream(platform::ConsoleStream::Error);
    platform::consolePrintf("COM%d", 1);
    platform::consoleSelectStream(platform::ConsoleStream::Output);
    platform::consoleDiscardInput();
    EXPECT_EQ(sim::renderTranscript(),
              "0.000000 console \"Opening COM1\"\n"
              "0.000000 COM2 open failed\n"
              "0.000000 COM1 open\n"
              "0.000000 COM1 timeouts interval=500 total=500+0x write=0+0x\n"
              "0.000000 COM1 state 9600 cts=off\n"
              "0.000000 COM1 purge 15 dropped \"\"\n"
              "0.000000 COM1 state 12345 cts=off failed\n"
              "0.000000 COM1 write 9600 cts=off \"%%%fw -v\\n\\r\" in 0.010416\n"
              "0.010416 COM1 read 1023999 -> \"\" in 0.500000\n"
              "0.510416 COM1 read 1023999 -> \"ok\\r\\n\" in 0.500000\n"
              "1.010416 sleep 3000 ms\n"
              "4.010416 COM1 close 9600 cts=off read=500\n"
              "4.010416 error-output \"COM1\"\n"
              "4.010416 discard \"\"\n");
    EXPECT_EQ(sim::consoleText(), "Opening COM1");
    EXPECT_EQ(sim::errorOutputText(), "COM1");
    EXPECT_EQ(sim::bytesSent(1), "%%%fw -v\n\r");
}

TEST_F(SimPlatformTest, TraceCallbackSeesEachEventAndPacingKeepsVirtualTime) {
    std::vector<EventKind> seen;
    sim::setTraceCallback([&seen](const sim::Event& e) { seen.push_back(e.kind); });
    sim::setPacing(1000.0);  // 2 ms of real time
    platform::sleepMs(2000);
    platform::consoleWrite("x");
    EXPECT_EQ(seen, (std::vector<EventKind>{EventKind::Sleep, EventKind::Console}));
    EXPECT_EQ(sim::now(), 2000 * kMs);
}

}  // namespace
