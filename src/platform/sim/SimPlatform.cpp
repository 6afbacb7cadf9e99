#include "SimPlatform.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <thread>
#include <utility>
#include <vector>

#include "Platform.h"
#include "PortPath.h"
#include "TraceText.h"

namespace platform::sim {
namespace {

constexpr Micros kMicrosPerMs = 1000;
constexpr Micros kBitTimesPerSecond = 10'000'000;  // 10 bits a byte, in microseconds
constexpr std::size_t kLongestShownBlock = 64;
constexpr std::intptr_t kFirstHandle = 0x100;
constexpr LineState kLineAtOpen{9600, false};

// The rates a serial driver accepts; anything else is refused like a rate
// the hardware cannot set.
constexpr std::array<std::uint32_t, 15> kStandardRates{110,   300,   600,    1200,   2400,
                                                       4800,  9600,  14400,  19200,  38400,
                                                       56000, 57600, 115200, 128000, 256000};

enum class PortKind { Silent, Unit, Busy };

struct Port {
    PortKind kind = PortKind::Silent;
    FarEnd* farEnd = nullptr;
    bool open = false;
    std::intptr_t handle = 0;
    LineState line = kLineAtOpen;
    COMMTIMEOUTS timeouts{};
    std::deque<Arrival> received;
    std::vector<std::uint32_t> refusedRates;
};

struct State {
    Micros now = 0;
    std::map<int, Port> ports;
    std::intptr_t nextHandle = kFirstHandle;
    std::string input;
    std::size_t inputPos = 0;
    double speed = 0;
    std::function<void(const Event&)> trace;
    OperatorInput operatorInput;
    std::vector<Event> events;
    ConsoleStream consoleStream = ConsoleStream::Output;
};

State& state() {
    static State instance;
    return instance;
}

void record(Event event) {
    State& s = state();
    s.events.push_back(std::move(event));
    if (s.trace) {
        s.trace(s.events.back());
    }
}

void advance(Micros duration) {
    State& s = state();
    s.now += duration;
    if (s.speed > 0 && duration > 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(
            static_cast<Micros>(static_cast<double>(duration) / s.speed)));
    }
}

// The open port a handle names, with its number.
std::pair<int, Port*> openPort(SerialHandle handle) {
    for (auto& [number, port] : state().ports) {
        if (port.open && port.handle == static_cast<std::intptr_t>(handle)) {
            return {number, &port};
        }
    }
    return {0, nullptr};
}

void collect(Port& port, Micros until) {
    if (port.farEnd != nullptr) {
        for (Arrival& arrival : port.farEnd->transmit(until, port.line)) {
            port.received.push_back(std::move(arrival));
        }
    }
}

// Drops everything that reached the port by now; returns it.
std::string dropReceived(Port& port) {
    collect(port, state().now);
    std::string dropped;
    while (!port.received.empty() && port.received.front().at <= state().now) {
        dropped += port.received.front().bytes;
        port.received.pop_front();
    }
    return dropped;
}

// Once the script has run out, the operator's next entry continues it.
void takeOperatorEntry(OperatorEntry entry) {
    State& s = state();
    if (s.inputPos < s.input.size() || !s.operatorInput) {
        return;
    }
    if (const std::optional<std::string> typed = s.operatorInput(entry)) {
        s.input += *typed;
    }
}

Event portEvent(EventKind kind, int port, bool ok) {
    Event event;
    event.at = state().now;
    event.kind = kind;
    event.port = port;
    event.ok = ok;
    return event;
}

bool isStandardRate(std::uint32_t baud) {
    return std::ranges::find(kStandardRates, baud) != kStandardRates.end();
}

// The standard rates but those the port's driver was told to refuse.
bool takesRate(const Port& port, std::uint32_t baud) {
    return isStandardRate(baud) &&
           std::ranges::find(port.refusedRates, baud) == port.refusedRates.end();
}

std::string shownBytes(std::string_view bytes) {
    if (bytes.size() <= kLongestShownBlock) {
        return '"' + escape(bytes) + '"';
    }
    std::uint32_t sum = 0;
    for (const char c : bytes) {
        sum += static_cast<unsigned char>(c);
    }
    return "<" + std::to_string(bytes.size()) + " bytes, sum " + std::to_string(sum) + ">";
}

std::string lineText(LineState line) {
    return std::to_string(line.baud) + (line.ctsFlow ? " cts=on" : " cts=off");
}

std::string portName(int port) {
    return port == 0 ? "no-port" : "COM" + std::to_string(port);
}

std::string describe(const Event& e) {
    const std::string port = portName(e.port);
    switch (e.kind) {
        case EventKind::Console:
            return "console " + shownBytes(e.text);
        case EventKind::ErrorOutput:
            return "error-output " + shownBytes(e.text);
        case EventKind::ConsoleRead:
            return e.ok ? "input " + shownBytes(e.text) : "input <end>";
        case EventKind::Key:
            return e.text.empty() ? "key <end>" : "key " + shownBytes(e.text);
        case EventKind::Discard:
            return "discard " + shownBytes(e.text);
        case EventKind::Open:
            return e.port == 0 ? "open " + shownBytes(e.text) : port + " open";
        case EventKind::Close:
            return e.port == 0 ? "close " + port
                               : port + " close " + lineText(e.line) +
                                     " read=" + std::to_string(e.timeouts.ReadTotalTimeoutConstant);
        case EventKind::Queues:
            return port + " queues rx=" + std::to_string(e.value) +
                   " tx=" + std::to_string(e.value2);
        case EventKind::Timeouts:
            return port + " timeouts interval=" + std::to_string(e.timeouts.ReadIntervalTimeout) +
                   " total=" + std::to_string(e.timeouts.ReadTotalTimeoutConstant) + "+" +
                   std::to_string(e.timeouts.ReadTotalTimeoutMultiplier) +
                   "x write=" + std::to_string(e.timeouts.WriteTotalTimeoutConstant) + "+" +
                   std::to_string(e.timeouts.WriteTotalTimeoutMultiplier) + "x";
        case EventKind::State:
            return port + " state " + lineText(e.line);
        case EventKind::Purge:
            return port + " purge " + std::to_string(e.value) + " dropped " + shownBytes(e.text);
        case EventKind::Escape:
            return port + " escape " + std::to_string(e.value);
        case EventKind::Write:
            return port + " write " + lineText(e.line) + " " + shownBytes(e.text) + " in " +
                   secondsText(e.duration);
        case EventKind::Read:
            return port + " read " + std::to_string(e.value) + " -> " + shownBytes(e.text) +
                   " in " + secondsText(e.duration);
        case EventKind::Sleep:
            return "sleep " + std::to_string(e.value) + " ms";
    }
    return {};
}

}  // namespace

void reset() {
    state() = State{};
}

Micros now() {
    return state().now;
}

void addSilentPort(int port) {
    state().ports[port] = Port{};
}

void addUnitPort(int port, FarEnd& farEnd) {
    Port& added = state().ports[port] = Port{};
    added.kind = PortKind::Unit;
    added.farEnd = &farEnd;
}

void addBusyPort(int port) {
    state().ports[port] = Port{};
    state().ports[port].kind = PortKind::Busy;
}

void refuseRate(int port, std::uint32_t baud) {
    state().ports.at(port).refusedRates.push_back(baud);
}

void removePort(int port) {
    state().ports.erase(port);
}

void setConsoleInput(std::string text) {
    state().input = std::move(text);
    state().inputPos = 0;
}

std::string_view pendingConsoleInput() {
    return std::string_view(state().input).substr(state().inputPos);
}

void setOperatorInput(OperatorInput source) {
    state().operatorInput = std::move(source);
}

void setPacing(double speed) {
    state().speed = speed;
}

void setTraceCallback(std::function<void(const Event&)> callback) {
    state().trace = std::move(callback);
}

std::optional<LineState> openPortLine(int port) {
    const auto found = state().ports.find(port);
    if (found == state().ports.end() || !found->second.open) {
        return std::nullopt;
    }
    return found->second.line;
}

const std::vector<Event>& transcript() {
    return state().events;
}

std::string renderEvent(const Event& event) {
    return secondsText(event.at) + " " + describe(event) + (event.ok ? "" : " failed");
}

std::string renderTranscript() {
    std::string text;
    for (const Event& event : state().events) {
        text += renderEvent(event);
        text += '\n';
    }
    return text;
}

std::string escape(std::string_view bytes) {
    return escapeBytes(bytes);
}

namespace {

std::string textOf(EventKind kind) {
    std::string text;
    for (const Event& event : state().events) {
        if (event.kind == kind) {
            text += event.text;
        }
    }
    return text;
}

}  // namespace

std::string consoleText() {
    return textOf(EventKind::Console);
}

std::string errorOutputText() {
    return textOf(EventKind::ErrorOutput);
}

std::vector<Event> events(EventKind kind, int port) {
    std::vector<Event> found;
    for (const Event& event : state().events) {
        if (event.kind == kind && (port == 0 || event.port == port)) {
            found.push_back(event);
        }
    }
    return found;
}

std::string bytesSent(int port) {
    std::string bytes;
    for (const Event& event : events(EventKind::Write, port)) {
        if (event.ok) {
            bytes += event.text;
        }
    }
    return bytes;
}

}  // namespace platform::sim

namespace platform {

using sim::Event;
using sim::EventKind;

SerialHandle serialOpen(const char* devicePath) {
    sim::State& s = sim::state();
    const std::optional<int> number = comPortNumberFromPath(devicePath);
    const auto found = number ? s.ports.find(*number) : s.ports.end();
    if (found == s.ports.end() || found->second.kind == sim::PortKind::Busy || found->second.open) {
        Event event = sim::portEvent(EventKind::Open, number.value_or(0), false);
        event.text = devicePath;
        sim::record(std::move(event));
        return kInvalidSerialHandle;
    }
    sim::Port& port = found->second;
    port.open = true;
    port.handle = s.nextHandle++;
    port.line = sim::kLineAtOpen;
    port.timeouts = {};
    // While the port was closed nothing listened: what the far end sent is lost.
    port.received.clear();
    sim::dropReceived(port);
    sim::record(sim::portEvent(EventKind::Open, found->first, true));
    return static_cast<SerialHandle>(port.handle);
}

bool serialClose(SerialHandle handle) {
    auto [number, port] = sim::openPort(handle);
    Event event = sim::portEvent(EventKind::Close, number, port != nullptr);
    if (port != nullptr) {
        event.line = port->line;
        event.timeouts = port->timeouts;
        sim::dropReceived(*port);
        port->received.clear();
        port->open = false;
    }
    sim::record(std::move(event));
    return port != nullptr;
}

bool serialSetupQueues(SerialHandle handle, std::uint32_t rxSize, std::uint32_t txSize) {
    auto [number, port] = sim::openPort(handle);
    Event event = sim::portEvent(EventKind::Queues, number, port != nullptr);
    event.value = rxSize;
    event.value2 = txSize;
    sim::record(std::move(event));
    return port != nullptr;
}

bool serialSetTimeouts(SerialHandle handle, const COMMTIMEOUTS& timeouts) {
    auto [number, port] = sim::openPort(handle);
    Event event = sim::portEvent(EventKind::Timeouts, number, port != nullptr);
    event.timeouts = timeouts;
    if (port != nullptr) {
        port->timeouts = timeouts;
    }
    sim::record(std::move(event));
    return port != nullptr;
}

bool serialSetState(SerialHandle handle, const DCB& settings) {
    auto [number, port] = sim::openPort(handle);
    const sim::LineState line{settings.BaudRate, settings.fOutxCtsFlow != 0};
    const bool accepted = port != nullptr && sim::takesRate(*port, line.baud);
    Event event = sim::portEvent(EventKind::State, number, accepted);
    event.line = line;
    if (accepted) {
        // What arrived so far was received at the old rate.
        sim::collect(*port, sim::state().now);
        port->line = line;
    }
    sim::record(std::move(event));
    return accepted;
}

bool serialPurge(SerialHandle handle, std::uint32_t flags) {
    auto [number, port] = sim::openPort(handle);
    Event event = sim::portEvent(EventKind::Purge, number, port != nullptr);
    event.value = flags;
    if (port != nullptr && (flags & PURGE_RXCLEAR) != 0) {
        event.text = sim::dropReceived(*port);
    }
    sim::record(std::move(event));
    return port != nullptr;
}

bool serialEscape(SerialHandle handle, std::uint32_t function) {
    auto [number, port] = sim::openPort(handle);
    Event event = sim::portEvent(EventKind::Escape, number, port != nullptr);
    event.value = function;
    sim::record(std::move(event));
    return port != nullptr;
}

bool serialRead(SerialHandle handle, void* buffer, std::uint32_t count, std::uint32_t* bytesRead) {
    *bytesRead = 0;
    auto [number, port] = sim::openPort(handle);
    Event event = sim::portEvent(EventKind::Read, number, port != nullptr);
    event.value = count;
    if (port == nullptr) {
        sim::record(std::move(event));
        return false;
    }
    const sim::Micros start = sim::state().now;
    const sim::Micros deadline =
        start + (static_cast<sim::Micros>(port->timeouts.ReadTotalTimeoutConstant) +
                 static_cast<sim::Micros>(port->timeouts.ReadTotalTimeoutMultiplier) * count) *
                    sim::kMicrosPerMs;
    sim::collect(*port, deadline);
    std::string& got = event.text;
    sim::Micros end = count == 0 ? start : deadline;
    while (got.size() < count && !port->received.empty() && port->received.front().at <= deadline) {
        sim::Arrival& arrival = port->received.front();
        const std::size_t take = std::min<std::size_t>(arrival.bytes.size(), count - got.size());
        got.append(arrival.bytes, 0, take);
        const sim::Micros arrivedAt = arrival.at;
        if (take < arrival.bytes.size()) {
            arrival.bytes.erase(0, take);
        } else {
            port->received.pop_front();
        }
        if (got.size() == count) {
            end = std::max(start, arrivedAt);
        }
    }
    std::memcpy(buffer, got.data(), got.size());
    *bytesRead = static_cast<std::uint32_t>(got.size());
    event.duration = end - start;
    sim::advance(end - start);
    sim::record(std::move(event));
    return true;
}

bool serialWrite(SerialHandle handle, const void* buffer, std::uint32_t count,
                 std::uint32_t* bytesWritten) {
    *bytesWritten = 0;
    auto [number, port] = sim::openPort(handle);
    Event event = sim::portEvent(EventKind::Write, number, port != nullptr);
    event.text.assign(static_cast<const char*>(buffer), count);
    if (port == nullptr) {
        sim::record(std::move(event));
        return false;
    }
    event.line = port->line;
    const sim::Micros start = sim::state().now;
    sim::Micros sendFrom = start;
    if (port->line.ctsFlow && port->farEnd != nullptr) {
        sendFrom = std::max(start, port->farEnd->ctsOnFrom(start));
    }
    const sim::Micros end =
        sendFrom + static_cast<sim::Micros>(count) * sim::kBitTimesPerSecond / port->line.baud;
    bool delivered = true;
    if (port->farEnd != nullptr) {
        sim::collect(*port, end);
        delivered = port->farEnd->receive(end, event.text, port->line);
    }
    event.ok = delivered;
    event.duration = end - start;
    sim::advance(end - start);
    sim::record(std::move(event));
    if (delivered) {
        *bytesWritten = count;
    }
    return delivered;
}

void sleepMs(std::uint32_t milliseconds) {
    Event event = sim::portEvent(EventKind::Sleep, 0, true);
    event.value = milliseconds;
    event.duration = static_cast<sim::Micros>(milliseconds) * sim::kMicrosPerMs;
    sim::advance(event.duration);
    sim::record(std::move(event));
}

void consoleSetUp() {}

void consoleSelectStream(ConsoleStream stream) {
    sim::state().consoleStream = stream;
}

void consoleWrite(std::string_view text) {
    Event event =
        sim::portEvent(sim::state().consoleStream == ConsoleStream::Error ? EventKind::ErrorOutput
                                                                          : EventKind::Console,
                       0, true);
    event.text = text;
    sim::record(std::move(event));
}

// One line of the script, up to and including its "\n" (or the end of the
// script); the event holds what was consumed.
bool consoleReadLine(std::string& line) {
    sim::takeOperatorEntry(sim::OperatorEntry::Line);
    sim::State& s = sim::state();
    const std::size_t begin = s.inputPos;
    const std::size_t lineEnd = s.input.find('\n', begin);
    const std::size_t end = lineEnd == std::string::npos ? s.input.size() : lineEnd;
    const bool read = begin < s.input.size();
    line = s.input.substr(begin, std::min(end - begin, kConsoleLineLimit));
    s.inputPos = lineEnd == std::string::npos ? end : end + 1;
    Event event = sim::portEvent(EventKind::ConsoleRead, 0, read);
    event.text = s.input.substr(begin, s.inputPos - begin);
    sim::record(std::move(event));
    return read;
}

void consoleWaitKey() {
    sim::takeOperatorEntry(sim::OperatorEntry::Key);
    sim::State& s = sim::state();
    Event event = sim::portEvent(EventKind::Key, 0, true);
    if (s.inputPos < s.input.size()) {
        event.text = s.input.substr(s.inputPos++, 1);
    }
    sim::record(std::move(event));
}

void consoleDiscardInput() {
    sim::State& s = sim::state();
    Event event = sim::portEvent(EventKind::Discard, 0, true);
    if (s.inputPos > 0 && s.input[s.inputPos - 1] != '\n') {
        const std::size_t lineEnd = s.input.find('\n', s.inputPos);
        const std::size_t end = lineEnd == std::string::npos ? s.input.size() : lineEnd + 1;
        event.text = s.input.substr(s.inputPos, end - s.inputPos);
        s.inputPos = end;
    }
    sim::record(std::move(event));
}

// The simulated platform has no files of its own: these are the host's, through
// the C library alone.
std::FILE* fileCreateNew(const char* path) {
    return std::fopen(path, "wbx");
}

bool fileReplace(const char* from, const char* to) {
    return std::rename(from, to) == 0;
}

}  // namespace platform
