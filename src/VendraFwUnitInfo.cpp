#include "VendraFwUnitInfo.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "ComPortAPI.h"
#include "Console.h"
#include "VendraFwUpgrade.h"

namespace {

constexpr char VERSION_QUERY[] = "%fw -v";
constexpr char IDENTITY_QUERY[] = "%fw -p";
// The version reply is read as identification reads it: one read, leaving
// room for the NUL after it.
constexpr int VERSION_READ_SIZE = DATA_BUFFER_SIZE - 1;
// Fields of the version reply, counted in order: the firmware version's three
// numbers, the model word, the logic version's two numbers, the device code.
constexpr int FIRMWARE_VERSION_FIELDS = 3;
constexpr int MODEL_FIELDS = 4;
constexpr int LOGIC_VERSION_FIELDS = 6;
constexpr int DEVICE_CODE_FIELDS = 7;

using VersionNumbers = std::array<int, 3>;

// FIRMWARE_VERSION_TO_UPLOAD as its three numbers; a fourth stops the build.
constexpr VersionNumbers releaseNumbers() {
    VersionNumbers numbers{};
    std::size_t field = 0;
    for (const char c : std::string_view(FIRMWARE_VERSION_TO_UPLOAD)) {
        if (c == '.') {
            ++field;
        } else {
            numbers.at(field) = numbers.at(field) * 10 + (c - '0');
        }
    }
    return numbers;
}
constexpr VersionNumbers RELEASE_NUMBERS = releaseNumbers();

constexpr char USAGE[] =
    "Usage: VendraFwUnitInfo [--port N --rate R] [--json]\n"
    "\n"
    "Reports which firmware the unit on the serial line runs, without changing it.\n"
    "\n"
    "  (no option)         find the unit on COM1 to COM32 as the update does\n"
    "  --port N --rate R   ask the unit on COM N at R baud, without searching;\n"
    "                      the two go together\n"
    "  --json              print the report as one JSON object\n"
    "  --help              print this text\n"
    "\n"
    "Exit status: 0 when the unit identified as TX or RX; 1 when no unit answered,\n"
    "or it answered but did not identify; 2 for wrong options.\n";
constexpr char USAGE_HINT[] = "Run VendraFwUnitInfo --help for the options.\n";

struct Options {
    std::optional<int> port;
    std::optional<int> rate;
    bool json = false;
    bool help = false;
};

struct ParsedOptions {
    Options options;
    std::string error;  // empty when the options are good
};

// A whole decimal number from 1 to INT_MAX: digits only, nothing before or after.
std::optional<int> positiveNumber(std::string_view text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc{} || stop != end || value < 1) {
        return std::nullopt;
    }
    return value;
}

ParsedOptions parseOptions(std::span<const std::string_view> arguments) {
    ParsedOptions parsed;
    Options& options = parsed.options;
    const auto fail = [&parsed](std::string message) {
        parsed.error = std::move(message);
        return parsed;
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (argument == "--help" || argument == "--json") {
            bool& flag = argument == "--help" ? options.help : options.json;
            if (flag) {
                return fail(std::string(argument) + " is given twice");
            }
            flag = true;
        } else if (argument == "--port" || argument == "--rate") {
            std::optional<int>& target = argument == "--port" ? options.port : options.rate;
            if (target) {
                return fail(std::string(argument) + " is given twice");
            }
            if (i + 1 == arguments.size()) {
                return fail(std::string(argument) + " needs a number");
            }
            const std::string_view text = arguments[++i];
            target = positiveNumber(text);
            if (!target) {
                return fail(std::string(argument) +
                            " takes a whole number from 1 to 2147483647, not \"" +
                            std::string(text) + "\"");
            }
        } else {
            return fail("unknown option \"" + std::string(argument) + "\"");
        }
    }
    if (options.port.has_value() != options.rate.has_value()) {
        return fail("--port and --rate go together");
    }
    return parsed;
}

enum class Variant { TX, RX };

struct Outcome {
    bool found = false;
    int port = 0;
    int rate = 0;
    UnitVersions versions;
    std::optional<Variant> variant;
};

// gDataBuffer for the exchanges of one run.
class ScratchBuffer {
  public:
    ScratchBuffer() : buffer_(std::make_unique<char[]>(DATA_BUFFER_SIZE)) {
        gDataBuffer = buffer_.get();
    }
    ScratchBuffer(const ScratchBuffer&) = delete;
    ScratchBuffer& operator=(const ScratchBuffer&) = delete;
    ~ScratchBuffer() { gDataBuffer = nullptr; }

  private:
    std::unique_ptr<char[]> buffer_;
};

// Opens the line as the update does: found by discovery, or the one given,
// without CTS flow control. False when no port is open.
bool openLine(const Options& options) {
    ComPortAPI_SetHardwareFlowControl(0);
    if (!options.port) {
        platform::consoleWrite("Looking for the unit on COM1 to COM32 ...");
        return detectComPortAndBaudrate() == 1;
    }
    platform::consolePrintf("Opening COM%d at %d baud ...", *options.port, *options.rate);
    ComPortAPI_SetBaudRate(*options.rate);
    if (ComPortAPI_OpenCOM(*options.port) == 0) {
        return false;
    }
    gComPortNumber = *options.port;
    gBaudRate = *options.rate;
    return true;
}

// The version query and the identity tests of the update's identification,
// with its reads and time-outs; RX is tried only after TX failed. True when
// the unit answered either.
bool identify(Outcome& outcome) {
    ComPortAPI_SetHardwareFlowControl(1);
    ComPortAPI_SetReadingTimeoutInMs(IDENTIFICATION_READ_TIMEOUT_MS);
    sendCommand(VERSION_QUERY, 0, 0, nullptr);
    int nBytesRead = 0;
    ComPortAPI_ReadCOM(gDataBuffer, VERSION_READ_SIZE, &nBytesRead);
    nBytesRead = std::clamp(nBytesRead, 0, VERSION_READ_SIZE);
    gDataBuffer[nBytesRead] = '\0';
    StrRemoveNL(gDataBuffer, ' ');
    outcome.versions = parseVersionReply(gDataBuffer);

    if (sendCommand(IDENTITY_QUERY, 0, 1, VALIDATE_TX_PRODUCT_ID_STRING) == 1) {
        outcome.variant = Variant::TX;
    } else if (sendCommand(IDENTITY_QUERY, 0, 1, VALIDATE_RX_PRODUCT_ID_STRING) == 1) {
        outcome.variant = Variant::RX;
    }
    return nBytesRead > 0 || outcome.variant.has_value();
}

Outcome askUnit(const Options& options) {
    Outcome outcome;
    const ScratchBuffer scratch;
    if (openLine(options)) {
        outcome.found = identify(outcome) || !options.port;
        outcome.port = gComPortNumber;
        outcome.rate = gBaudRate;
        ComPortAPI_CloseCOM();
    }
    platform::consoleWrite("\n");
    return outcome;
}

std::string firmwareVersion(const UnitVersions& v) {
    return std::to_string(v.fw_ver) + "." + std::to_string(v.fw_rev) + "." +
           std::to_string(v.fw_sub);
}

// With the revision in two digits at least, as the update shows it.
std::string logicVersion(const UnitVersions& v) {
    const std::string revision = std::to_string(v.fpga_rev);
    return std::to_string(v.fpga_ver) + (revision.size() < 2 ? ".0" : ".") + revision;
}

std::optional<std::string> verdict(const Outcome& o) {
    if (o.versions.nbr < FIRMWARE_VERSION_FIELDS) {
        return std::nullopt;
    }
    const VersionNumbers unit{o.versions.fw_ver, o.versions.fw_rev, o.versions.fw_sub};
    if (unit < RELEASE_NUMBERS) {
        return "older than this release";
    }
    return unit > RELEASE_NUMBERS ? "newer than this release" : "up to date";
}

// One fact of the report; no value when the unit did not give it.
using Value = std::variant<std::monostate, int, bool, std::string>;
struct Fact {
    std::string_view name;   // in JSON
    std::string_view label;  // in the text
    Value value;
    std::string_view missing = "not given";  // the text for no value
};

template <typename T>
Value valueIf(bool given, T value) {
    return given ? Value(std::move(value)) : Value();
}

std::vector<Fact> facts(const Outcome& o) {
    const UnitVersions& v = o.versions;
    const bool device = v.nbr >= DEVICE_CODE_FIELDS;
    const std::optional<std::string> judged = verdict(o);
    return {
        {"port", "COM port number", valueIf(o.found, o.port)},
        {"baud_rate", "Baud rate", valueIf(o.found, o.rate)},
        {"firmware_version", "Firmware version",
         valueIf(v.nbr >= FIRMWARE_VERSION_FIELDS, firmwareVersion(v))},
        {"logic_model", "Logic model", valueIf(v.nbr >= MODEL_FIELDS, std::string(v.model))},
        {"logic_version", "Logic version", valueIf(v.nbr >= LOGIC_VERSION_FIELDS, logicVersion(v))},
        {"device_code", "Logic device code", valueIf(device, v.fpga_type)},
        {"device_fits_images", "Device fits the images",
         valueIf(device, v.fpga_type == DEVICE_XC7A75_676)},
        {"variant", "Variant",
         valueIf(o.variant.has_value(), std::string(o.variant == Variant::TX ? "TX" : "RX")),
         "not recognised"},
        {"release_version", "This release", std::string(FIRMWARE_VERSION_TO_UPLOAD)},
        {"verdict", "Verdict", valueIf(judged.has_value(), judged.value_or("")), "not known"},
    };
}

// The unit's bytes as printable ASCII, so that neither a terminal nor a JSON
// reader meets a raw control byte: the characters of `quoted` after a
// backslash, every byte outside 0x20 to 0x7E as `bytePrefix` and two hex digits.
std::string escaped(std::string_view text, std::string_view quoted, std::string_view bytePrefix) {
    constexpr std::string_view HEX_DIGITS = "0123456789ABCDEF";
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (quoted.find(c) != std::string_view::npos) {
            shown += '\\';
            shown += c;
        } else if (byte >= 0x20 && byte < 0x7F) {
            shown += c;
        } else {
            shown += bytePrefix;
            shown += HEX_DIGITS[byte >> 4];
            shown += HEX_DIGITS[byte & 0x0F];
        }
    }
    return shown;
}

std::string textEscaped(std::string_view text) {
    return escaped(text, "\\", "\\x");
}

// In JSON a byte's escape names the code point of its value.
std::string jsonString(std::string_view text) {
    return '"' + escaped(text, "\"\\", "\\u00") + '"';
}

struct TextValue {
    std::string_view missing;
    std::string operator()(std::monostate) const { return std::string(missing); }
    std::string operator()(int number) const { return std::to_string(number); }
    std::string operator()(bool yes) const { return yes ? "yes" : "no"; }
    std::string operator()(const std::string& text) const { return textEscaped(text); }
};

struct JsonValue {
    std::string operator()(std::monostate) const { return "null"; }
    std::string operator()(int number) const { return std::to_string(number); }
    std::string operator()(bool yes) const { return yes ? "true" : "false"; }
    std::string operator()(const std::string& text) const { return jsonString(text); }
};

constexpr std::size_t LABEL_WIDTH = 24;

std::string textReport(const Outcome& o, const Options& options) {
    if (!o.found) {
        return options.port ? "No unit answered on COM" + std::to_string(*options.port) + " at " +
                                  std::to_string(*options.rate) + " baud.\n"
                            : std::string("No unit answered on COM1 to COM32.\n");
    }
    std::string report;
    for (const Fact& fact : facts(o)) {
        std::string label(fact.label);
        label += ' ';
        label.resize(std::max(LABEL_WIDTH, label.size()), '.');
        report += label + ' ' + std::visit(TextValue{fact.missing}, fact.value) + "\n";
    }
    return report;
}

std::string jsonReport(const Outcome& o) {
    std::string json = std::string("{\"found\": ") + (o.found ? "true" : "false");
    for (const Fact& fact : facts(o)) {
        json += ", " + jsonString(fact.name) + ": " + std::visit(JsonValue{}, fact.value);
    }
    return json + "}\n";
}

}  // namespace

int runVendraFwUnitInfo(std::span<const std::string_view> arguments) {
    platform::consoleSetUp();
    platform::consoleSelectStream(platform::ConsoleStream::Error);
    const ParsedOptions parsed = parseOptions(arguments);
    if (!parsed.error.empty()) {
        platform::consoleWrite("VendraFwUnitInfo: " + parsed.error + "\n");
        platform::consoleWrite(USAGE_HINT);
        return UNIT_INFO_EXIT_USAGE;
    }
    const Options& options = parsed.options;
    if (options.help) {
        platform::consoleSelectStream(platform::ConsoleStream::Output);
        platform::consoleWrite(USAGE);
        return UNIT_INFO_EXIT_IDENTIFIED;
    }

    const Outcome outcome = askUnit(options);
    platform::consoleSelectStream(platform::ConsoleStream::Output);
    platform::consoleWrite(options.json ? jsonReport(outcome) : textReport(outcome, options));
    return outcome.found && outcome.variant ? UNIT_INFO_EXIT_IDENTIFIED
                                            : UNIT_INFO_EXIT_NOT_IDENTIFIED;
}
