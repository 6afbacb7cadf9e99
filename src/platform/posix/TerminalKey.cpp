#include "TerminalKey.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace platform::posix {

std::optional<char> readKey() {
    if (::isatty(STDIN_FILENO) != 1) {
        const int key = std::getchar();
        return key == EOF ? std::nullopt : std::optional<char>(static_cast<char>(key));
    }
    termios saved{};
    if (::tcgetattr(STDIN_FILENO, &saved) != 0) {
        return std::nullopt;
    }
    termios keyMode = saved;
    keyMode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    keyMode.c_cc[VMIN] = 1;
    keyMode.c_cc[VTIME] = 0;
    std::optional<char> key;
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &keyMode) == 0) {
        char pressed = 0;
        ssize_t got = 0;
        while ((got = ::read(STDIN_FILENO, &pressed, 1)) < 0 && errno == EINTR) {
        }
        if (got == 1) {
            key = pressed;
        }
    }
    // Nothing more can be done about a terminal that refuses its own settings
    // back; the program is about to end.
    static_cast<void>(::tcsetattr(STDIN_FILENO, TCSANOW, &saved));
    return key;
}

}  // namespace platform::posix
