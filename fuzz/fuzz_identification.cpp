// Unit identification, and the update sequence it opens, fed arbitrary reply
// bytes through the simulated platform. The far end answers the n-th write
// with the n-th reply of the script (ScriptedReplies.h): the version query,
// the TX identity test, the RX identity test, and so on. Small images keep
// the uploads behind a passed identification cheap.
//
// What must hold: the identity is asked only of a unit whose version reply
// names device code 7; "TX OK" or "RX OK" only after the exact identity text;
// no image is announced without one of them.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "ScriptedReplies.h"
#include "SimSession.h"
#include "VendraFwUpgrade.h"

namespace {

constexpr platform::sim::Micros PIECE_PERIOD = 1'000'000;  // the identification read time-out
constexpr std::string_view VERSION_QUERY = "%%%fw -v\n\r";
constexpr std::string_view IDENTITY_QUERY = "%%%fw -p\n\r";
constexpr std::string_view LOGIC_ANNOUNCEMENT = "%%%fw -l ";
constexpr int DEVICE_CODE = 7;
constexpr std::ptrdiff_t LONGEST_MODEL_WORD = 7;

// The reply as the unit must give it: "%d.%d.%d %s %d.%d %d" read in full
// from the text before any NUL, line ends counting as spaces, a model word
// of at most 7 characters, and a device code that is 7 itself rather than a
// number that only wraps to 7.
bool namesDeviceCode7(std::string text) {
    text.resize(std::min(text.size(), text.find('\0')));
    std::ranges::replace(text, '\r', ' ');
    std::ranges::replace(text, '\n', ' ');
    int fwVer = 0;
    int fwRev = 0;
    int fwSub = 0;
    int fpgaVer = 0;
    int fpgaRev = 0;
    int modelStart = -1;
    int modelEnd = -1;
    int codeStart = -1;
    // The fields before the device code only need to be there; the code
    // itself is read with a range check below.
    // NOLINTNEXTLINE(cert-err34-c)
    const int fields = std::sscanf(text.c_str(), "%d.%d.%d %n%*s%n %d.%d %n", &fwVer, &fwRev,
                                   &fwSub, &modelStart, &modelEnd, &fpgaVer, &fpgaRev, &codeStart);
    if (fields != 5 || modelEnd - modelStart > LONGEST_MODEL_WORD || codeStart < 0) {
        return false;
    }
    const char* code = text.c_str() + codeStart;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(code, &end, 10);
    return end != code && errno == 0 && value == DEVICE_CODE;
}

bool printed(const fuzz::Exchange& exchange, std::string_view text) {
    return exchange.firstConsole.starts_with(text);
}

void checkSequence(const std::vector<fuzz::Exchange>& seen) {
    require(!seen.empty() && seen[0].written == VERSION_QUERY, "the version query comes first");
    const std::string versionRead = seen[0].reads.empty() ? "" : seen[0].reads.front();
    const bool identityAsked = seen.size() > 1 && seen[1].written == IDENTITY_QUERY;
    require(!identityAsked || namesDeviceCode7(versionRead),
            "the identity is asked only of a unit that names device code 7");

    bool identified = false;
    if (identityAsked && printed(seen[1], "TX OK")) {
        require(seen[1].replyRead() == VALIDATE_TX_PRODUCT_ID_STRING,
                "TX OK only after the exact TX identity");
        identified = true;
    } else if (identityAsked) {
        require(seen.size() > 2 && seen[2].written == IDENTITY_QUERY,
                "the RX test follows a failed TX test");
        if (printed(seen[2], "RX OK")) {
            require(seen[2].replyRead() == VALIDATE_RX_PRODUCT_ID_STRING,
                    "RX OK only after the exact RX identity");
            identified = true;
        }
    }
    const bool announced = std::ranges::any_of(seen, [](const fuzz::Exchange& exchange) {
        return exchange.written.starts_with(LOGIC_ANNOUNCEMENT);
    });
    require(!announced || identified, "no image is announced to an unidentified unit");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    obtainSharedBuffers();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ReplyScript script(std::span(data, size));
    fuzz::ScriptedFarEnd farEnd(std::move(script.replies()), PIECE_PERIOD);
    gHexFirmware = newImageWorkingCopy(0);
    {
        fuzz::SimSession session(farEnd);
        updateFirmware();
        checkSequence(fuzz::exchanges());
    }
    delete[] gHexFirmware;
    gHexFirmware = nullptr;
    delete[] gHexFPGA_Code;
    gHexFPGA_Code = nullptr;
    return 0;
}
