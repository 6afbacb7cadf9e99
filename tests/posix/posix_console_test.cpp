// The POSIX console: the operator's numbers, the key press and discarding
// typed-ahead input, from a pipe and from a terminal.
#include <gtest/gtest.h>
#include <termios.h>

#include <cstdio>
#include <thread>

#include "Platform.h"
#include "PosixTestSupport.h"

namespace {

using namespace posix_test;
using namespace std::chrono_literals;

// A pipe holding `bytes`, its write end closed so that it ends there.
class InputPipe {
  public:
    explicit InputPipe(std::string_view bytes) {
        int ends[2];
        check(::pipe(ends) == 0, "pipe");
        readEnd_ = ends[0];
        writeAll(ends[1], bytes);
        ::close(ends[1]);
    }
    InputPipe(const InputPipe&) = delete;
    InputPipe& operator=(const InputPipe&) = delete;
    ~InputPipe() { ::close(readEnd_); }
    int get() const { return readEnd_; }

  private:
    int readEnd_ = -1;
};

// A pseudo-terminal's slave side as standard input; the master side types.
class TerminalInput {
  public:
    TerminalInput()
        : slave_(::open(terminal_.slavePath().c_str(), O_RDWR | O_NOCTTY)), stdin_(slave_.get()) {
        check(slave_.get() >= 0, "open the slave side");
    }
    void type(std::string_view keys) const { writeAll(terminal_.master(), keys); }
    // What the terminal shows: the echo of typed keys, if any.
    std::string shown() const { return readUntilQuiet(terminal_.master()); }
    termios settings() const {
        termios attributes{};
        check(::tcgetattr(slave_.get(), &attributes) == 0, "tcgetattr");
        return attributes;
    }
    bool inputPending() const {
        pollfd entry{slave_.get(), POLLIN, 0};
        return ::poll(&entry, 1, 100) > 0;
    }

  private:
    PseudoTerminal terminal_;
    Fd slave_;
    StdinFrom stdin_;
};

TEST(PosixConsole, ReadsDecimalNumbersAsScanfDoes) {
    InputPipe input(" 42\n-7 x");
    StdinFrom redirected(input.get());
    int value = 0;
    EXPECT_TRUE(platform::consoleReadInt(value));
    EXPECT_EQ(value, 42);
    EXPECT_TRUE(platform::consoleReadInt(value));
    EXPECT_EQ(value, -7);
    EXPECT_FALSE(platform::consoleReadInt(value));
    EXPECT_EQ(value, -7);
}

TEST(PosixConsole, DiscardDropsWhatTheLibraryHoldsFromAPipe) {
    InputPipe input("12 34\n");
    StdinFrom redirected(input.get());
    int value = 0;
    ASSERT_TRUE(platform::consoleReadInt(value));
    platform::consoleDiscardInput();
    EXPECT_FALSE(platform::consoleReadInt(value));
    EXPECT_EQ(value, 12);
}

TEST(PosixConsole, KeyFromAPipeIsOneByteAndTheEndOfInputCounts) {
    InputPipe input("xy");
    StdinFrom redirected(input.get());
    platform::consoleWaitKey();
    EXPECT_EQ(std::getchar(), 'y');
    // At the end of input the wait returns at once instead of hanging.
    platform::consoleWaitKey();
    platform::consoleWaitKey();
}

TEST(PosixConsole, KeyFromATerminalIsNotEchoedAndSettingsComeBack) {
    TerminalInput terminal;
    terminal.type("5\n");
    int value = 0;
    ASSERT_TRUE(platform::consoleReadInt(value));
    EXPECT_EQ(value, 5);
    terminal.shown();

    // The key is typed once the wait has taken the terminal out of echo;
    // the line end left over from the number does not count as the key.
    std::thread waiter(platform::consoleWaitKey);
    const auto start = std::chrono::steady_clock::now();
    while ((terminal.settings().c_lflag & ECHO) != 0 && elapsedSince(start) < 5s) {
        std::this_thread::sleep_for(1ms);
    }
    terminal.type("k");
    waiter.join();
    EXPECT_EQ(terminal.shown(), "");
    EXPECT_FALSE(terminal.inputPending());
    const termios after = terminal.settings();
    EXPECT_NE(after.c_lflag & ICANON, 0U);
    EXPECT_NE(after.c_lflag & ECHO, 0U);
}

TEST(PosixConsole, DiscardDropsWhatWasTypedAhead) {
    TerminalInput terminal;
    terminal.type("99");
    terminal.shown();
    platform::consoleDiscardInput();
    terminal.type("7\n");
    int value = 0;
    ASSERT_TRUE(platform::consoleReadInt(value));
    EXPECT_EQ(value, 7);
}

}  // namespace
