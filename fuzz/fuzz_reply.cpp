// Reply collection and comparison of sendCommand and sendData on arbitrary
// byte streams: NULs, pieces split anywhere, sizes around the reply store's
// capacity. Nothing but the exact expected text may be accepted, and the
// exact text in one or two reads must be.
//
// The first byte chooses the expected reply and the operation; the rest is
// the reply script (ScriptedReplies.h).
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "ComPortAPI.h"
#include "FuzzCheck.h"
#include "ScriptedReplies.h"
#include "SimSession.h"
#include "VendraFwUpgrade.h"

namespace {

constexpr std::array<const char*, 5> EXPECTED_REPLIES{
    "Ready",
    "SUCCESS",
    VALIDATE_TX_PRODUCT_ID_STRING,
    VALIDATE_RX_PRODUCT_ID_STRING,
    "version\n\r   version <no parameters> {Get the current firmware version}\r\n>>",
};
constexpr int READ_TIMEOUT_MS = 1000;
constexpr platform::sim::Micros MICROS_PER_MS = 1000;
constexpr std::size_t MOST_READS_OF_AN_EXPECTED_REPLY = 2;

std::array<std::uint8_t, 16> BLOCK{};

// The expected text itself, in as few reads as the program's replies take.
bool arrivesExactly(const fuzz::Reply& reply, const std::string& expected) {
    return reply.size() <= MOST_READS_OF_AN_EXPECTED_REPLY &&
           fuzz::totalSize(reply) == expected.size() && fuzz::joined(reply) == expected;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    obtainSharedBuffers();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string expected = EXPECTED_REPLIES[data[0] % EXPECTED_REPLIES.size()];
    const bool viaData = data[0] / EXPECTED_REPLIES.size() % 2 == 1;
    fuzz::ReplyScript script(std::span(data + 1, size - 1));
    std::deque<fuzz::Reply>& replies = script.replies();
    const bool exactInFewReads = arrivesExactly(replies.front(), expected);

    fuzz::ScriptedFarEnd farEnd(std::move(replies), READ_TIMEOUT_MS * MICROS_PER_MS);
    fuzz::SimSession session(farEnd);
    ComPortAPI_SetReadingTimeoutInMs(READ_TIMEOUT_MS);
    const int accepted = viaData ? sendData(BLOCK.data(), BLOCK.size(), 1, expected.c_str())
                                 : sendCommand("%fw -l 4294967286 4", 0, 1, expected.c_str());

    require(platform::sim::events(platform::sim::EventKind::Write).size() == 1,
            "one write, whatever the reply");
    if (accepted == 1) {
        require(fuzz::exchanges().front().replyRead() == expected,
                "an accepted reply is exactly the expected text, byte for byte");
    }
    if (exactInFewReads) {
        require(accepted == 1, "the exact expected text in one or two reads is accepted");
    }
    return 0;
}
