// The console through the C library's standard streams, for the adapters whose
// console is the process's own (posix, win32); each adapter adds its set-up,
// key and discard.
#include <cstdio>
#include <string>
#include <string_view>

#include "Console.h"
#include "StdinLine.h"

namespace platform {
namespace {
ConsoleStream gConsoleStream = ConsoleStream::Output;
}  // namespace

void consoleSelectStream(ConsoleStream stream) {
    gConsoleStream = stream;
}

// Standard error is unbuffered from the start. Text the console does not
// take is lost to the operator and changes nothing of the run.
void consoleWrite(std::string_view text) {
    // False: cppcheck 2.10 follows consolePrintf's own text into this call and
    // takes the view of it for one that has outlived it.
    // cppcheck-suppress invalidLifetime
    static_cast<void>(std::fwrite(text.data(), 1, text.size(),
                                  gConsoleStream == ConsoleStream::Error ? stderr : stdout));
}

bool consoleReadLine(std::string& line) {
    return readStdinLine(line);
}

}  // namespace platform
