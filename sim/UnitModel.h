// A model of the extender unit at the far end of the serial line, strict
// about what it receives, so that tests can see every mistake of the host.
//
// The model knows no clock and no host: each call carries the time
// (microseconds, never decreasing as far as the host's actions go). A host
// hands it the bytes that arrived with the line state they were sent in
// (receive) and fetches what the unit sent by a given time (transmit).
//
// Behaviour:
// - It listens at one rate: the configured one, 115,200 baud from its "Ready"
//   until the reboot that follows the "%fw -h" transfer, and the configured
//   one again after the reboot. Bytes sent at another rate are garbage to it
//   and break any frame in progress.
// - A frame is "%%", a command, "\n\r". Anything else between two frame ends
//   is a violation and gets no answer; so does an unknown command.
// - "%help -c version", "%fw -v" and "%fw -p" get their replies after
//   replyDelay. "%fw -l <checksum> <length>" and "%fw -h <checksum> <length>"
//   get "Ready" after readyDelay; then exactly <length> bytes are taken as
//   data, which must come at 115,200 baud with CTS flow control on (else a
//   violation, and the transfer fails); the answer after successDelay is
//   successText when the checksum (0 minus the byte sum, modulo 2^32)
//   matches and the transfer was clean, failureText otherwise.
// - After the successText of a "%fw -h" transfer it reboots: it ignores the
//   line for rebootTime (bytes then are a violation), then sends rebootText
//   at its configured rate and listens there again.
// - Its output is paced at the rate it talks at; a host at another rate
//   receives it garbled (see garbled).
// - Faults (kFaults, one row each) change the configuration; a mid-transfer
//   event drops the line, silences the unit, restarts it or holds CTS off
//   once a given number of data bytes of one transfer has arrived.
#ifndef VENDRA_SIM_UNITMODEL_H
#define VENDRA_SIM_UNITMODEL_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace unitsim {

using Micros = std::int64_t;
inline constexpr Micros kMillis = 1000;

inline constexpr std::string_view kTxIdentity =
    "Korvan 6G SDI EXTENDER TX OVER FIBER WITH RETURN CHANNEL\r\n>>";
inline constexpr std::string_view kRxIdentity =
    "Korvan 6G SDI EXTENDER RX OVER FIBER WITH RETURN CHANNEL\r\n>>";
inline constexpr std::string_view kHelpVersionReply =
    "version\n\r   version <no parameters> {Get the current firmware version}\r\n>>";
inline constexpr std::uint32_t kDataBaud = 115200;

inline constexpr std::string_view kReady = "Ready";

// What happens once `bytes` data bytes of transfer `transfer` (0: the first
// "%fw -l" or "%fw -h" taken) have arrived.
enum class MidTransfer {
    DropLine,    // the line goes down: the host's writes fail
    FallSilent,  // it takes the rest but never answers again
    Restart,     // it drops the transfer, reboots and sends its reboot text
    HoldCts,     // CTS goes off for ctsHold, then on again
};
struct DataEvent {
    MidTransfer what = MidTransfer::DropLine;
    std::size_t transfer = 0;
    std::size_t bytes = 0;
};

// The line state the host sent with.
struct Line {
    std::uint32_t baud = 0;
    bool ctsFlow = false;
    bool operator==(const Line&) const = default;
};

// Bytes the unit sent, complete at the host's side at `at`, sent at `baud`.
struct Chunk {
    Micros at = 0;
    std::string bytes;
    std::uint32_t baud = 0;
};

struct UnitConfig {
    std::string identity{kTxIdentity};  // reply to "%fw -p"
    std::uint32_t baud = 9600;          // rate it answers commands at
    // Reply to "%fw -v": firmware version, model word, logic version, device code.
    std::string versionReply = "1.0.6 K620418 1.07 7\r\n>>";
    Micros replyDelay = 20 * kMillis;       // frame end to reply, for the query commands
    Micros readyDelay = 200 * kMillis;      // frame end to "Ready"
    Micros successDelay = 200 * kMillis;    // last data byte to the verdict
    Micros rebootTime = 145'000 * kMillis;  // end of the verdict to the reboot text
    std::string rebootText = "[boot] firmware 1.0.7 started\r\n>>";
    std::string successText = "SUCCESS";
    std::string failureText = "FAILED";

    bool silent = false;             // answers nothing at all
    bool ignoreFirstProbe = false;   // the first "%help -c version" gets no answer
    bool answersReady = true;        // false: "%fw -l" and "%fw -h" get no answer
    std::string readyText{kReady};   // its answer to "%fw -l" and "%fw -h"
    bool takesData = true;           // false: it answers readyText but takes no data
    bool rebootsAfterUpdate = true;  // false: no reboot after the "%fw -h" verdict
    Micros splitPause = 0;           // above 0: every reply in two halves with this pause
    std::size_t hugeReplyBytes = 0;  // above 0: every reply replaced by this many bytes
    // Above 0: chatterText this often, from its first reply on (or from the
    // start with chatterFromStart), at chatterBaud (0: the rate it listens at).
    Micros chatterPeriod = 0;
    std::string chatterText = ">>";
    std::uint32_t chatterBaud = 0;
    bool chatterFromStart = false;
    std::optional<DataEvent> midTransfer;
    Micros ctsHold = 10'000 * kMillis;    // how long HoldCts keeps CTS off
    Micros restartTime = 500 * kMillis;   // a Restart to its reboot text
    bool lineDropWhileRebooting = false;  // the line goes down as the reboot starts
};

enum class Variant { Tx, Rx };
UnitConfig configFor(Variant variant, std::uint32_t baud);

enum class Fault {
    Silent,
    SecondProbeOnly,
    WrongIdentity,
    IdentityOneMore,
    DeviceCode3,
    VersionFewerFields,
    VersionMultiLine,
    VersionLongModel,
    NoReady,
    LateReady,
    SplitReply,
    WrongSuccess,
    HugeReply,
    Chatter,
    RebootSingleAngle,
    RebootNoBracket,
    RebootBracketOnly,
    RebootNothing,
    RebootEarly,
    LineDrop,
    LineDropInFirmware,
    LineDropWhileRebooting,
    SilentInTransfer,
    RestartInTransfer,
    CtsHeld10s,
    NulInReady,
    NulInSuccess,
    NulTrickle,
    Reply1023999,
    WrongRateGarbage,
};

struct FaultEntry {
    Fault fault;
    std::string_view name;         // as unit-sim's --fault takes it
    std::string_view description;  // one line for --help
    void (*apply)(UnitConfig&);    // changes the configuration so that the unit shows it
};
extern const std::span<const FaultEntry> kFaults;
std::optional<Fault> faultFromName(std::string_view name);
void applyFault(UnitConfig& config, Fault fault);

// 0 minus the sum of the bytes, modulo 2^32: what "%fw -l"/"%fw -h" announce.
std::uint32_t imageChecksum(std::string_view bytes);
// What a receiver set to another rate makes of bytes: every byte changed.
std::string garbled(std::string_view bytes);
// Bytes in C escape notation.
std::string escapeBytes(std::string_view bytes);

class UnitModel {
  public:
    struct Frame {
        Micros at = 0;
        std::string command;  // without "%%" and "\n\r"
        Line line;
    };
    struct Transfer {
        std::string command;  // "%fw -l" or "%fw -h"
        std::uint32_t checksum = 0;
        std::uint32_t length = 0;
        std::string data;         // what arrived so far
        std::vector<Line> lines;  // every line state the data came in
        bool complete = false;
        bool succeeded = false;  // successText was sent
    };
    struct Violation {
        Micros at = 0;
        std::string what;
    };
    struct LineChange {
        Micros at = 0;
        Line line;
    };

    explicit UnitModel(UnitConfig config = {});

    // Bytes the host finished sending at `at`. False when the line is down.
    bool receive(Micros at, std::string_view bytes, Line line);
    // What the unit sent that is complete by `until`, not fetched before.
    std::vector<Chunk> transmit(Micros until);
    // When the next byte will be complete; nothing when nothing is due.
    std::optional<Micros> nextTransmitTime() const;
    // The first moment from `now` on at which the unit holds CTS on.
    Micros ctsOnFrom(Micros now) const;

    const UnitConfig& config() const { return config_; }
    const std::vector<Frame>& frames() const { return frames_; }
    const std::vector<Transfer>& transfers() const { return transfers_; }
    const std::vector<LineChange>& lineHistory() const { return lineHistory_; }
    const std::vector<Violation>& violations() const { return violations_; }
    std::size_t garbageBytes() const { return garbageBytes_; }
    bool lineDown() const { return lineDown_; }
    int reboots() const { return reboots_; }
    // Everything above as text, one item a line (see unit-sim --report).
    std::string report() const;

  private:
    enum class Mode { Command, Data, Rebooting, Hung };
    enum class Action { EnterData, Reboot, BackUp };
    struct Outgoing {
        Micros start = 0;
        std::string text;
        std::uint32_t baud = 0;
        std::size_t sent = 0;
    };

    void settle(Micros until);
    void emit(Micros until, std::vector<Chunk>& chunks);
    void runChatter(Micros until);
    void takeCommandBytes(Micros at, std::string_view bytes, Line line);
    bool takeDataBytes(Micros at, std::string_view bytes, Line line);
    bool runMidTransferEvent(Micros at);
    void startReboot(Micros at, Micros duration);
    void handleCommand(Micros at, const std::string& command, Line line);
    void startTransfer(Micros at, const std::string& command);
    void finishTransfer(Micros at);
    void reply(Micros at, Micros delay, std::string_view text);
    Micros send(Micros earliest, std::string text, std::uint32_t baud);
    void violation(Micros at, std::string what);

    UnitConfig config_;
    Mode mode_ = Mode::Command;
    std::uint32_t listenBaud_;
    std::string frameBuffer_;
    bool probeIgnored_ = false;
    bool transferClean_ = true;
    std::multimap<Micros, Action> scheduled_;
    std::deque<Outgoing> output_;
    Micros outputFreeAt_ = 0;
    std::optional<Micros> chatterNext_;
    bool lineDown_ = false;
    int reboots_ = 0;
    bool midTransferDone_ = false;
    Micros ctsOffFrom_ = 0;
    Micros ctsOffUntil_ = 0;

    std::vector<Frame> frames_;
    std::vector<Transfer> transfers_;
    std::vector<LineChange> lineHistory_;
    std::vector<Violation> violations_;
    std::size_t garbageBytes_ = 0;
};

}  // namespace unitsim

#endif
