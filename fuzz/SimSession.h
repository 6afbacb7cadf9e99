// One run of the update code against a far end on the simulated platform,
// and what the transcript says about it afterwards.
#ifndef VENDRA_FUZZ_SIMSESSION_H
#define VENDRA_FUZZ_SIMSESSION_H

#include <string>
#include <vector>

#include "ComPortAPI.h"
#include "SimPlatform.h"
#include "VendraFwUpgrade.h"

namespace fuzz {

inline constexpr int SESSION_PORT = 3;
inline constexpr int SESSION_BAUD_RATE = 9600;

// Opens the port to `farEnd` as the update sequence finds it after
// discovery. The far end must outlive the session.
class SimSession {
  public:
    explicit SimSession(platform::sim::FarEnd& farEnd) {
        platform::sim::reset();
        ComPortAPI_RestoreInitialState();
        platform::sim::addUnitPort(SESSION_PORT, farEnd);
        ComPortAPI_SetBaudRate(SESSION_BAUD_RATE);
        ComPortAPI_SetHardwareFlowControl(1);
        ComPortAPI_OpenCOM(SESSION_PORT);
        gComPortNumber = SESSION_PORT;
        gBaudRate = SESSION_BAUD_RATE;
    }

    // The platform goes first: the far end may not outlive the session.
    ~SimSession() {
        platform::sim::reset();
        ComPortAPI_RestoreInitialState();
    }

    SimSession(const SimSession&) = delete;
    SimSession& operator=(const SimSession&) = delete;
};

// One write of the host and what followed it up to the next write.
struct Exchange {
    std::string written;
    std::vector<std::string> reads;
    // The first console text printed after the write, if any.
    std::string firstConsole;

    std::string replyRead() const {
        std::string reply;
        for (const std::string& read : reads) {
            reply += read;
        }
        return reply;
    }
};

inline std::vector<Exchange> exchanges() {
    std::vector<Exchange> result;
    bool consoleSeen = false;
    for (const platform::sim::Event& event : platform::sim::transcript()) {
        using platform::sim::EventKind;
        if (event.kind == EventKind::Write) {
            result.push_back({event.text, {}, {}});
            consoleSeen = false;
        } else if (result.empty()) {
            continue;
        } else if (event.kind == EventKind::Read) {
            result.back().reads.push_back(event.text);
        } else if (event.kind == EventKind::Console && !consoleSeen) {
            result.back().firstConsole = event.text;
            consoleSeen = true;
        }
    }
    return result;
}

}  // namespace fuzz

#endif
