// One line of standard input through the C library, for the adapters whose
// console is the process's standard input and for VendraFwUpgrade-sim, whose
// operator types there.
#ifndef VENDRA_PLATFORM_STDINLINE_H
#define VENDRA_PLATFORM_STDINLINE_H

#include <cstdio>
#include <string>

#include "Console.h"

namespace platform {

inline bool readStdinLine(std::string& line) {
    line.clear();
    int c = std::getchar();
    if (c == EOF) {
        return false;
    }
    for (; c != EOF && c != '\n'; c = std::getchar()) {
        if (line.size() < kConsoleLineLimit) {
            line += static_cast<char>(c);
        }
    }
    return true;
}

}  // namespace platform

#endif
