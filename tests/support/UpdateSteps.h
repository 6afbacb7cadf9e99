// The steps of a whole console run on the simulated platform, as the
// operator and the unit see them, built from the system's fixed texts onto an
// expected run; and the flat images the uploads carry, assembled by the
// tests' own reading of the catalogue.
#ifndef VENDRA_TESTS_SUPPORT_UPDATESTEPS_H
#define VENDRA_TESTS_SUPPORT_UPDATESTEPS_H

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ExpectedRun.h"
#include "ReferenceAssembler.h"
#include "SimPlatform.h"
#include "SystemTexts.h"
#include "firmware/BinImage.h"

namespace updatetest {

namespace sim = platform::sim;
using system_texts::kProbeFrame;
using system_texts::kProbeReply;
using system_texts::kRxIdentity;
using system_texts::kTxIdentity;

inline constexpr std::uint32_t kDataRate = 115200;
inline constexpr std::array<std::uint32_t, 6> kProbeRates{115200, 9600, 57600, 4800, 2400, 1200};

using reference::FlatImage;

inline FlatImage catalogueImage(int index) {
    const autogen_files& entry = AUTOGEN_FILES[index];
    return reference::assemble(std::string_view(entry.fileData, entry.fileDataLength));
}

// The steps of a run, as the operator and the unit see them.

inline void banner(ExpectedRun& x) {
    x.console(system_texts::kBanner);
}

// The existence test of an existing port, then the probes at each rate up to
// `answersAt` (at every rate when the port has no unit). True when answered.
inline bool probePort(ExpectedRun& x, int port, std::uint32_t answersAt = 0) {
    x.open(port);
    x.close(port, {9600, false}, 0);
    for (const std::uint32_t rate : kProbeRates) {
        const sim::LineState line{rate, false};
        x.open(port);
        if (rate == answersAt) {
            x.write(port, line, kProbeFrame);
            x.read(port, 500, kProbeReply);
            x.read(port, 500);
            return true;
        }
        for (int probe = 0; probe < 2; ++probe) {
            x.write(port, line, kProbeFrame);
            x.read(port, 500);
        }
        x.close(port, line, 500);
    }
    return false;
}

// Discovery over COM1 to COM32 with COM1 present and silent and the unit on
// `unitPort` (which discovery does not reach above 32).
inline void discovery(ExpectedRun& x, int unitPort, std::uint32_t unitRate) {
    for (int port = 1; port <= 32; ++port) {
        if (port == unitPort) {
            if (probePort(x, port, unitRate)) {
                x.line("OK\r");
                x.console("COM PORT Number : " + std::to_string(port));
                x.console("\r\nBaud rate       : " + std::to_string(unitRate) + " \r\n\r\n");
                return;
            }
        } else if (port == 1) {
            probePort(x, port);
        } else {
            x.openFails(port);
        }
    }
    x.console("FAILED");
}

// The operator names the port and the rate; both are accepted.
inline void manualDialogue(ExpectedRun& x, int port, std::uint32_t rate) {
    x.console(system_texts::kAskPort);
    x.input(std::to_string(port) + "\n");
    x.console("\r\nOpening COM" + std::to_string(port) + "....................");
    x.open(port);
    x.line("OK\r");
    x.console(system_texts::kAskRate);
    x.input(std::to_string(rate) + "\n");
    x.console("\r\nSetting baud rate at " + std::to_string(rate) + "..........");
    x.line("OK\r");
}

enum class Variant { Tx, Rx };

// Identification of a unit answering "1.0.6 K620418 1.07 7" to the version query.
inline void identification(ExpectedRun& x, int port, std::uint32_t rate, Variant variant,
                           std::string_view versionReply) {
    const sim::LineState line{rate, true};
    x.write(port, line, "%%%fw -v\n\r");
    x.read(port, 1000, versionReply);
    x.console("Checking firmware version ..............  1.00.06 \r\n");
    x.console("Checking fpga version ..................  K620418 1.07  device:7\r\n");
    x.console(system_texts::kProductLabel);
    const std::string_view identity = variant == Variant::Tx ? kTxIdentity : kRxIdentity;
    x.write(port, line, "%%%fw -p\n\r");
    x.read(port, 1000, identity);
    x.read(port, 1000);
    if (variant == Variant::Rx) {
        x.write(port, line, "%%%fw -p\n\r");
        x.read(port, 1000, identity);
        x.read(port, 1000);
    }
    x.line(variant == Variant::Tx ? "TX OK\r" : "RX OK\r");
    x.console(identity);
    x.line("\r");
}

struct UploadStep {
    std::string_view prepareLabel;
    std::string_view commandStart;
    std::uint32_t commandTimeoutMs;
    std::string_view sendLabel;
};
inline constexpr UploadStep kLogicUpload{"Preparing to Upload Programmable Logic ............ ",
                                         "%fw -l ", 10000,
                                         "Sending Programmable Logic data ................... "};
inline constexpr UploadStep kFirmwareUpload{"Preparing to Upload Firmware ...................... ",
                                            "%fw -h ", 5000,
                                            "Sending data ...................................... "};

// What the unit does with one upload.
struct UploadOutcome {
    bool ready = true;
    int failingWrite = -1;  // index of the data write that fails
    std::string reply = "SUCCESS";
};

inline std::string uploadFrame(const UploadStep& step, const FlatImage& image) {
    return "%%" + std::string(step.commandStart) + std::to_string(image.checksum) + " " +
           std::to_string(image.bytes.size()) + "\n\r";
}

// One upload with the command at `commandLine`; true when acknowledged.
inline bool upload(ExpectedRun& x, int port, sim::LineState commandLine, const UploadStep& step,
                   const FlatImage& image, const UploadOutcome& outcome = {}) {
    x.console(step.prepareLabel);
    x.write(port, commandLine, uploadFrame(step, image));
    if (!outcome.ready) {
        x.read(port, step.commandTimeoutMs);
        x.line("FAILED [Unit not ready]\r");
        return false;
    }
    x.read(port, step.commandTimeoutMs, "Ready");
    x.read(port, step.commandTimeoutMs);
    x.line("OK\r");
    x.console(step.sendLabel);
    x.console("1%");
    const sim::LineState dataLine{kDataRate, true};
    const std::string_view data = image.bytes;
    std::size_t sent = 0;
    std::size_t percentage = 0;
    for (int write = 0;; ++write) {
        const std::size_t piece = std::min<std::size_t>(data.size() - sent, 10240);
        const bool last = data.size() - sent <= 10240;
        if (write == outcome.failingWrite) {
            x.write(port, dataLine, data.substr(sent, piece), false);
            x.line("FAILED\r");
            return false;
        }
        x.write(port, dataLine, data.substr(sent, piece));
        sent += piece;
        x.console(percentage <= 9 ? "\b\b" : "\b\b\b");
        if (last) {
            break;
        }
        percentage = 100 * sent / data.size();
        x.console(std::to_string(percentage) + "%");
    }
    x.console("100%");
    x.read(port, 1000, outcome.reply);
    x.read(port, 1000);
    if (outcome.reply != "SUCCESS") {
        x.console("\r\nExpected : SUCCESS  received : " + outcome.reply + "\r\n");
        x.console(system_texts::kResponseMismatch);
        x.line("FAILED\r");
        return false;
    }
    return true;
}

// Both uploads at `rate`; true when both were acknowledged.
inline bool uploads(ExpectedRun& x, int port, std::uint32_t rate, const FlatImage& logic,
                    const FlatImage& firmware, const UploadOutcome& logicOutcome = {},
                    const UploadOutcome& firmwareOutcome = {}) {
    if (!upload(x, port, {rate, true}, kLogicUpload, logic, logicOutcome)) {
        return false;
    }
    x.line("OK\r");
    return upload(x, port, {kDataRate, true}, kFirmwareUpload, firmware, firmwareOutcome);
}

inline constexpr std::array<int, 46> kRebootCounter{
    0,  2,  4,  6,  8,  10, 13, 15, 17, 19, 21, 23, 26, 28, 30, 32, 34, 36, 39, 41, 43, 45, 47,
    50, 52, 54, 56, 58, 60, 63, 65, 67, 69, 71, 73, 76, 78, 80, 82, 84, 86, 89, 91, 93, 95, 97};

inline void rebootWait(ExpectedRun& x, int port, std::string_view firstRead,
                       std::string_view secondRead, bool verdict) {
    x.console(" OK\n\r\n\r");
    x.console("Please wait while the unit is rebooting ........... ");
    for (const int shown : kRebootCounter) {
        x.console((shown < 10 ? "  " : " ") + std::to_string(shown) + "%");
        x.sleep(3000);
        x.console("\b\b\b\b");
    }
    x.console("100%");
    x.read(port, 1000, firstRead);
    x.read(port, 11000, secondRead);
    x.console("\b\b\b\b");
    x.console("100%");
    if (verdict) {
        x.line("\n\r\n\rThe update was successful, the unit is now operational\r");
    }
}

// The port closes with the line and read time-out in force; then the final text.
inline void ending(ExpectedRun& x, int port, sim::LineState line, std::uint32_t readTimeoutMs,
                   bool updated, std::string_view key = {}) {
    x.close(port, line, readTimeoutMs);
    if (!updated) {
        x.console(system_texts::kUpdateFailed);
    }
    x.console(system_texts::kPressAnyKey);
    x.key(key);
}

}  // namespace updatetest

#endif
