// Bytes in C escape notation ("\r", "\n", "\b", "\t", "\"", "\\", "\xhh"),
// for transcripts and reports of what crossed a simulated line. Header only,
// so that unit-sim can use it without the simulated platform.
#ifndef VENDRA_PLATFORM_SIM_ESCAPEBYTES_H
#define VENDRA_PLATFORM_SIM_ESCAPEBYTES_H

#include <cstdio>
#include <string>
#include <string_view>

namespace platform::sim {

inline std::string escapeBytes(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        switch (c) {
            case '\n':
                text += "\\n";
                break;
            case '\r':
                text += "\\r";
                break;
            case '\b':
                text += "\\b";
                break;
            case '\t':
                text += "\\t";
                break;
            case '"':
                text += "\\\"";
                break;
            case '\\':
                text += "\\\\";
                break;
            default:
                if (c >= 0x20 && c < 0x7f) {
                    text += c;
                } else {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
                    text += hex;
                }
        }
    }
    return text;
}

}  // namespace platform::sim

#endif
