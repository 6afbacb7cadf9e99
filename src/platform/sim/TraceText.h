// The texts of transcripts, traces and reports of what crossed a simulated
// line: times and bytes. Header only, so that unit-sim can use it without the
// simulated platform.
#ifndef VENDRA_PLATFORM_SIM_TRACETEXT_H
#define VENDRA_PLATFORM_SIM_TRACETEXT_H

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::sim {

// A time in microseconds as "<seconds>.<six digits>"; not negative.
inline std::string secondsText(std::int64_t micros) {
    constexpr std::int64_t kMicrosPerSecond = 1'000'000;
    std::string fraction = std::to_string(micros % kMicrosPerSecond);
    fraction.insert(0, 6 - fraction.size(), '0');
    return std::to_string(micros / kMicrosPerSecond) + '.' + fraction;
}

// Bytes in C escape notation ("\r", "\n", "\b", "\t", "\"", "\\", "\xhh").
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
                    constexpr std::string_view kHexDigits = "0123456789abcdef";
                    const auto byte = static_cast<unsigned char>(c);
                    text += "\\x";
                    text += kHexDigits[byte >> 4];
                    text += kHexDigits[byte & 0xf];
                }
        }
    }
    return text;
}

}  // namespace platform::sim

#endif
