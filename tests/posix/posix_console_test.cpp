// The POSIX console: the operator's lines, output into a closed pipe, the key press and discarding
// typed-ahead input, from a pipe and from a terminal.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

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

TEST(PosixConsole, ReadsLinesFromAPipe) {
    const std::string longLine(platform::kConsoleLineLimit + 5, '9');
    InputPipe input(" 42\n\n" + longLine + "\n-7 x");
    StdinFrom redirected(input.get());
    const std::vector<std::string> lines{" 42", "", longLine.substr(0, platform::kConsoleLineLimit),
                                         "-7 x"};
    std::string line;
    for (const std::string& expected : lines) {
        ASSERT_TRUE(platform::consoleReadLine(line));
        EXPECT_EQ(line, expected);
    }
    EXPECT_FALSE(platform::consoleReadLine(line));
    EXPECT_EQ(line, "");
}

TEST(PosixConsole, DiscardDropsWhatTheLibraryHoldsFromAPipe) {
    InputPipe input("12 34\n56\n");
    StdinFrom redirected(input.get());
    std::string line;
    ASSERT_TRUE(platform::consoleReadLine(line));
    EXPECT_EQ(line, "12 34");
    platform::consoleDiscardInput();
    EXPECT_FALSE(platform::consoleReadLine(line));
}

// A console write into a pipe whose reader has gone fails; the program goes
// on rather than being ended by SIGPIPE halfway through an upload.
TEST(PosixConsole, AClosedOutputPipeDoesNotEndTheProgram) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        int ends[2];
        if (::pipe(ends) != 0 || ::dup2(ends[1], STDOUT_FILENO) < 0) {
            _exit(3);
        }
        ::close(ends[0]);
        platform::consoleSetUp();
        platform::consoleWrite("Sending data ...");
        platform::consoleWrite("1%");
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
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
    std::string line;
    ASSERT_TRUE(platform::consoleReadLine(line));
    EXPECT_EQ(line, "5");
    terminal.shown();

    // The key is typed once the wait has taken the terminal out of echo.
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
    std::string line;
    ASSERT_TRUE(platform::consoleReadLine(line));
    EXPECT_EQ(line, "7");
}

}  // namespace
