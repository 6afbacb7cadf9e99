// Control of the simulated platform: serial ports on a virtual clock, a
// scripted console and one transcript of everything the program did.
//
// Time is virtual, in microseconds, and starts at 0. Only the program's own
// blocking calls move it: a read lasts until its count has arrived or its
// total time-out (ReadTotalTimeoutConstant + ReadTotalTimeoutMultiplier x
// count) has passed; a write lasts bytes x 10 / baud (10 bits a byte) after
// any wait for CTS; a sleep lasts exactly its milliseconds. Everything else
// takes no time.
//
// A port is absent (the open fails), busy (held by another program: the open
// fails too), silent (present without a unit: it takes every byte and never
// answers) or connected to a far end, usually a unit model, through FarEnd.
//
// Console: output is captured; input is a script. consoleReadLine takes the
// script up to and including the next "\n"; consoleWaitKey takes one character, or returns at once
// at the end of the script; consoleDiscardInput drops the rest of a line the program has started to
// read (what the C library holds buffered), up to and including its "\n", and nothing when the next
// character starts a new line, which the operator has not typed yet.
#ifndef VENDRA_PLATFORM_SIM_SIMPLATFORM_H
#define VENDRA_PLATFORM_SIM_SIMPLATFORM_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "SerialRecords.h"

namespace platform::sim {

using Micros = std::int64_t;

// Line state in force on one side of the line.
struct LineState {
    std::uint32_t baud = 0;
    bool ctsFlow = false;  // CTS output flow control of the host
};

// Bytes that reached the host's side of the line by `at`.
struct Arrival {
    Micros at = 0;
    std::string bytes;
};

// The far end of a simulated line. The platform calls it in time order as
// far as the host's actions go; a far end must produce its output without
// knowing the host's future actions.
class FarEnd {
  public:
    virtual ~FarEnd() = default;
    // The host finished writing `bytes` at `at` with its line in state
    // `line`. False when the line is down: the host's write fails.
    virtual bool receive(Micros at, std::string_view bytes, LineState line) = 0;
    // Everything the far end sent that has reached the host by `until` and
    // was not taken before, oldest first, as a host at `hostLine` receives it.
    virtual std::vector<Arrival> transmit(Micros until, LineState hostLine) = 0;
    // The first moment from `now` on at which the far end holds CTS on; a
    // host write with CTS flow control on waits for it.
    virtual Micros ctsOnFrom(Micros now) { return now; }
};

enum class EventKind {
    Console,      // text: what the program printed on standard output
    ErrorOutput,  // text: what the program printed on standard error
    ConsoleRead,  // text: what consoleReadLine consumed; ok: false at the end of input
    Key,          // text: the character taken, empty at the end of input
    Discard,      // text: the typed-ahead input dropped
    Open,         // port, ok
    Close,        // port, ok; line/timeouts: the settings in force
    Queues,       // port, ok; value: rx size, value2: tx size
    Timeouts,     // port, ok; timeouts: the record given
    State,        // port, ok (false: refused); line: the record's rate and CTS bit
    Purge,        // port, ok; value: flags; text: received bytes discarded
    Escape,       // port, ok; value: function
    Write,        // port, ok; text: the bytes; line in force; duration incl. CTS wait
    Read,         // port, ok; text: the bytes; value: count asked; duration
    Sleep,        // value: milliseconds; duration
};

struct Event {
    Micros at = 0;        // virtual time when the call began
    Micros duration = 0;  // how long it took
    EventKind kind = EventKind::Console;
    int port = 0;  // COM number; 0 when the handle named no open port
    bool ok = true;
    std::string text;
    std::uint32_t value = 0;
    std::uint32_t value2 = 0;
    LineState line;
    COMMTIMEOUTS timeouts{};
};

// Back to the start: time 0, no ports, no console input and no operator
// input source, the console on standard output, empty transcript, no pacing,
// no trace callback.
void reset();
Micros now();

void addSilentPort(int port);
// The far end must outlive its attachment (until removePort or reset).
void addUnitPort(int port, FarEnd& farEnd);
void addBusyPort(int port);
void removePort(int port);
// The driver of `port` (added before) refuses `baud` too, as hardware that
// cannot make that rate: an open that applies it fails.
void refuseRate(int port, std::uint32_t baud);

void setConsoleInput(std::string text);
// Script not consumed yet.
std::string_view pendingConsoleInput();

// Where the console's input goes on once the script has run out, for a
// program whose operator is real: asked for one line or one key, it returns
// what the operator typed (a line with its "\n"), or nothing at the end of
// input. Without a source the end of the script is the end of input.
enum class OperatorEntry { Line, Key };
using OperatorInput = std::function<std::optional<std::string>(OperatorEntry)>;
void setOperatorInput(OperatorInput source);

// With a speed above 0, every advance of virtual time also sleeps for real
// time / speed, so a run can be watched; 0 switches it off.
void setPacing(double speed);
// Called with every event as it is recorded (for a live wire trace).
void setTraceCallback(std::function<void(const Event&)> callback);

// The rate and CTS state of an open port; nothing when it is not open.
std::optional<LineState> openPortLine(int port);

const std::vector<Event>& transcript();
// One line per event: "<seconds>.<micros> <what>", bytes in C escapes;
// blocks of more than 64 bytes shown by length and checksum.
std::string renderTranscript();
std::string renderEvent(const Event& event);
// Texts and bytes in C escape notation ("\r", "\n", "\b", "\xhh").
std::string escape(std::string_view bytes);

// Filters: the console output in order, of standard output and of standard
// error; the events of one kind on one port (port 0: on any port); the bytes
// written to a port, in order.
std::string consoleText();
std::string errorOutputText();
std::vector<Event> events(EventKind kind, int port = 0);
std::string bytesSent(int port);

}  // namespace platform::sim

#endif
