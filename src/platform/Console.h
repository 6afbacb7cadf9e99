// The console part of the platform: the program's text, the operator's
// entries and key, and sleeping. Every adapter (win32, posix, sim) provides
// it; nothing here needs an OS header.
#ifndef VENDRA_PLATFORM_CONSOLE_H
#define VENDRA_PLATFORM_CONSOLE_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

void sleepMs(std::uint32_t milliseconds);

// Standard output unbuffered, in the platform's text mode. Called once at start.
void consoleSetUp();
// Where consoleWrite sends the program's text: standard output from the
// start; standard error for a program whose standard output carries nothing
// but a report that scripts read.
enum class ConsoleStream { Output, Error };
void consoleSelectStream(ConsoleStream stream);
void consoleWrite(std::string_view text);
// One line of operator input without its "\n"; characters beyond
// kConsoleLineLimit are read and dropped. False, with `line` empty, when input
// has ended before the line began.
inline constexpr std::size_t kConsoleLineLimit = 256;
bool consoleReadLine(std::string& line);
// One key press without echo; at the end of input it returns at once.
void consoleWaitKey();
// Drops console input typed ahead and not yet consumed.
void consoleDiscardInput();

// printf-style formatting onto consoleWrite; the same for every adapter.
[[gnu::format(printf, 1, 2)]] inline void consolePrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length > 0) {
        std::string text(static_cast<std::size_t>(length) + 1, '\0');
        // Nothing is shown of a text that could not be formatted whole.
        if (std::vsnprintf(text.data(), text.size(), format, args) == length) {
            text.resize(static_cast<std::size_t>(length));
            consoleWrite(text);
        }
    }
    va_end(args);
}

}  // namespace platform

#endif
