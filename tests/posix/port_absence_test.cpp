// Which lines the POSIX adapter treats as absent: what cannot be opened, what
// is no terminal, and what belongs to someone else. An absent port fails the
// operator's open with the usual message, discovery passes over it without a
// word or a probe, and nothing reaches it or changes its settings.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <termios.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "ComPortAPI.h"
#include "PortLockSupport.h"
#include "PosixTestSupport.h"
#include "ProgramRun.h"
#include "VendraFwUpgrade.h"

namespace {

using namespace posix_test;
using namespace std::chrono_literals;

constexpr int kPort = 1;
constexpr const char* kDevice = "ttyS0";
// Discovery probes a port it opens with a read of 500 ms; an absent port
// costs nothing.
constexpr auto kNoProbe = 400ms;

// One line as the test arranges it: a pseudo-terminal preset with settings of
// its own, and whatever stands at COM1's device path.
class Line {
  public:
    Line() {
        termios preset{};
        check(::tcgetattr(pty_.master(), &preset) == 0, "tcgetattr");
        preset.c_iflag |= IXON | ICRNL;
        preset.c_lflag |= ECHO | ICANON;
        check(::cfsetspeed(&preset, B4800) == 0, "cfsetspeed");
        check(::tcsetattr(pty_.master(), TCSANOW, &preset) == 0, "tcsetattr");
    }

    void linkPty() { link_.emplace(kDevice, pty_.slavePath()); }
    void linkTo(const std::filesystem::path& target) { link_.emplace(kDevice, target); }
    void regularFile() {
        std::filesystem::create_directories(deviceDirectory());
        writeFile(deviceDirectory() / kDevice, "");
    }
    void holdFlock() {
        holder_.emplace(::open(pty_.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
        check(::flock(holder_->get(), LOCK_EX | LOCK_NB) == 0, "flock");
    }
    void listAsConsole() {
        // The console list names devices under /dev, as the kernel does.
        const std::string name = std::filesystem::path(pty_.slavePath()).lexically_relative("/dev");
        writeFile(consoleList(), "tty0 " + name + "\n");
    }

    termios settings() const {
        termios line{};
        check(::tcgetattr(pty_.master(), &line) == 0, "tcgetattr");
        return line;
    }
    std::string received() const { return readUntilQuiet(pty_.master()); }

  private:
    PseudoTerminal pty_;
    std::optional<DeviceLink> link_;
    std::optional<Fd> holder_;
};

bool sameSettings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && cfgetispeed(&a) == cfgetispeed(&b) &&
           cfgetospeed(&a) == cfgetospeed(&b);
}

class PortAbsence : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::remove_all(deviceDirectory());
        std::filesystem::create_directories(deviceDirectory());
        ComPortAPI_RestoreInitialState();
        obtainSharedBuffers();
    }
    void TearDown() override {
        releaseSharedBuffers();
        ComPortAPI_RestoreInitialState();
        std::filesystem::remove_all(deviceDirectory());
    }

    CleanLockState locks_;
};

TEST_F(PortAbsence, OnlyAFreeTerminalOpens) {
    const std::string lockFile = lockFileOf(kDevice);
    const struct {
        const char* name;
        std::function<void(Line&)> arrange;
        bool opens;
    } cases[] = {
        {"missing path", [](Line&) {}, false},
        {"link to /dev/null", [](Line& line) { line.linkTo("/dev/null"); }, false},
        {"regular file", [](Line& line) { line.regularFile(); }, false},
        {"flock held by another description",
         [](Line& line) {
             line.linkPty();
             line.holdFlock();
         },
         false},
        {"lock file of a live process",
         [&](Line& line) {
             line.linkPty();
             writeFile(lockFile, hdbLock(::getppid()));
         },
         false},
        {"lock that cannot be read (a directory in its place)",
         [&](Line& line) {
             line.linkPty();
             std::filesystem::create_directory(lockFile);
         },
         false},
        {"the system console",
         [](Line& line) {
             line.linkPty();
             line.listAsConsole();
         },
         false},
        {"stale lock file",
         [&](Line& line) {
             line.linkPty();
             writeFile(lockFile, hdbLock(endedProcess()));
         },
         true},
        {"free terminal", [](Line& line) { line.linkPty(); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CleanLockState cleanLocks;
        Line line;
        c.arrange(line);
        const termios before = line.settings();
        const std::string lockBefore = readFile(lockFile);

        StdoutCapture console;
        const int opened = ComPortAPI_OpenCOM(kPort);
        EXPECT_EQ(console.finish(), c.opens ? "" : "ERROR: Opening COM1 failed !");
        EXPECT_EQ(opened, c.opens ? 1 : 0);
        ComPortAPI_CloseCOM();
        if (c.opens) {
            continue;
        }

        StdoutCapture discoveryConsole;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(detectComPortAndBaudrate(), 0);
        EXPECT_LT(elapsedSince(start), kNoProbe);
        EXPECT_EQ(discoveryConsole.finish(), "");
        EXPECT_EQ(gComPortNumber, 0);

        EXPECT_EQ(line.received(), "");
        EXPECT_TRUE(sameSettings(line.settings(), before));
        // Someone else's lock file stays as it was.
        EXPECT_EQ(readFile(lockFile), lockBefore);
        if (std::filesystem::is_regular_file(deviceDirectory() / kDevice)) {
            EXPECT_EQ(readFile(deviceDirectory() / kDevice), "");
        }
    }
}

TEST_F(PortAbsence, AStaleLockIsTakenOverAndGoesWithTheClose) {
    Line line;
    line.linkPty();
    writeFile(lockFileOf(kDevice), hdbLock(endedProcess()));

    ASSERT_EQ(ComPortAPI_OpenCOM(kPort), 1);
    EXPECT_EQ(readFile(lockFileOf(kDevice)), hdbLock(::getpid()));
    ComPortAPI_CloseCOM();
    EXPECT_FALSE(std::filesystem::exists(lockFileOf(kDevice)));
}

TEST_F(PortAbsence, TheProgramPassesOverPortsThatAreNoTerminalsAndFindsTheUnit) {
    DeviceLink null("ttyS0", "/dev/null");
    writeFile(deviceDirectory() / "ttyS1", "");
    test_support::UnitSimProcess unit(deviceDirectory(), 3,
                                      {"--rate", "9600", "--fault", "device-code-3"});

    const ProgramRun run = runProgram(TEST_DEVICES_PROGRAM, 60s);

    EXPECT_TRUE(
        run.output.starts_with("\n\rYou are about to upload the firmware version 1.0.7"
                               "\n\r\n\rDetecting COM port and Baud Rate.................."
                               "OK\r\nCOM PORT Number : 3\r\nBaud rate       : 9600 \r\n\r\n"))
        << run.output;
    EXPECT_EQ(readFile(deviceDirectory() / "ttyS1"), "");
    EXPECT_TRUE(std::filesystem::is_empty(lockDirectory()));
}

}  // namespace
