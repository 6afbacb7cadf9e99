#include "FarSide.h"

#include <cstdio>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace far_side {
namespace {

// Starts every request line, so that far_side.py tells requests from the
// test's own output.
constexpr std::string_view kRequestMarker = "@far-side ";
constexpr std::string_view kDigits = "0123456789abcdef";

std::string toHex(std::string_view bytes) {
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}

int digitValue(char c) {
    const auto position = kDigits.find(c);
    if (position == std::string_view::npos) {
        throw std::runtime_error("far side: not a hex digit in a reply");
    }
    return static_cast<int>(position);
}

std::string fromHex(std::string_view hex) {
    if (hex.size() % 2 != 0) {
        throw std::runtime_error("far side: odd hex length in a reply");
    }
    std::string bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        bytes += static_cast<char>(digitValue(hex[i]) << 4 | digitValue(hex[i + 1]));
    }
    return bytes;
}

// Sends one request and returns what follows "ok" in the answer.
std::string request(std::string_view verb, int port, std::string_view argument = {}) {
    std::ostringstream line;
    line << kRequestMarker << verb << ' ' << port;
    if (!argument.empty()) {
        line << ' ' << argument;
    }
    line << '\n';
    const std::string text = line.str();
    std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);

    std::string answer;
    if (!std::getline(std::cin, answer)) {
        throw std::runtime_error("far side: no answer (run this program through far_side.py)");
    }
    if (!answer.empty() && answer.back() == '\r') {
        answer.pop_back();
    }
    if (answer == "ok") {
        return {};
    }
    if (answer.starts_with("ok ")) {
        return answer.substr(3);
    }
    throw std::runtime_error("far side: " + answer);
}

}  // namespace

LineSettings lineSettings(int port) {
    std::istringstream answer(request("line", port));
    LineSettings settings;
    int ctsFlow = 0;
    if (!(answer >> settings.baudRate >> ctsFlow >> settings.frame)) {
        throw std::runtime_error("far side: malformed line settings");
    }
    settings.ctsFlow = ctsFlow != 0;
    return settings;
}

void setLineSettings(int port, std::uint32_t baudRate, bool ctsFlow) {
    request("set-line", port, std::to_string(baudRate) + (ctsFlow ? " 1" : " 0"));
}

void send(int port, std::string_view bytes) {
    request("send", port, toHex(bytes));
}

std::string receive(int port) {
    return fromHex(request("receive", port));
}

}  // namespace far_side
