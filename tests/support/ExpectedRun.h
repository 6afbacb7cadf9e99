// An expected run, built event by event on its own clock from the line
// rules: each write lasts its bytes x 10 bits / baud, each read one read
// time-out, each sleep its milliseconds.
#ifndef VENDRA_TESTS_SUPPORT_EXPECTEDRUN_H
#define VENDRA_TESTS_SUPPORT_EXPECTEDRUN_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "SimPlatform.h"
#include "TranscriptView.h"

namespace updatetest {

namespace sim = platform::sim;

// What the program asks of every read.
inline constexpr std::uint32_t kReadRequest = 1'023'999;
inline constexpr sim::Micros kMicrosPerMs = 1000;

// The expected run, event by event, on its own clock.
class ExpectedRun {
  public:
    sim::Micros now() const { return now_; }

    void console(std::string_view text) { add(sim::EventKind::Console, 0).text = text; }
    void line(std::string_view text) {
        console(text);
        console("\n");
    }
    void input(std::string_view consumed) { add(sim::EventKind::ConsoleRead, 0).text = consumed; }
    void key(std::string_view taken) { add(sim::EventKind::Key, 0).text = taken; }
    void open(int port) { add(sim::EventKind::Open, port); }
    void openFails(int port) { add(sim::EventKind::Open, port).ok = false; }
    void close(int port, sim::LineState line, std::uint32_t readTimeoutMs) {
        sim::Event& e = add(sim::EventKind::Close, port);
        e.line = line;
        e.timeouts.ReadTotalTimeoutConstant = readTimeoutMs;
    }
    void write(int port, sim::LineState line, std::string_view bytes, bool ok = true) {
        sim::Event& e = add(sim::EventKind::Write, port);
        e.text = bytes;
        e.line = line;
        e.ok = ok;
        e.duration = static_cast<sim::Micros>(bytes.size()) * 10'000'000 / line.baud;
        now_ += e.duration;
    }
    void read(int port, std::uint32_t timeoutMs, std::string_view bytes = {}) {
        sim::Event& e = add(sim::EventKind::Read, port);
        e.text = bytes;
        e.value = kReadRequest;
        e.duration = timeoutMs * kMicrosPerMs;
        now_ += e.duration;
    }
    void sleep(std::uint32_t ms) {
        sim::Event& e = add(sim::EventKind::Sleep, 0);
        e.value = ms;
        e.duration = ms * kMicrosPerMs;
        now_ += e.duration;
    }

    std::string render() const { return renderView(events_); }
    std::string consoleText() const {
        std::string text;
        for (const sim::Event& e : events_) {
            if (e.kind == sim::EventKind::Console) {
                text += e.text;
            }
        }
        return text;
    }

  private:
    sim::Event& add(sim::EventKind kind, int port) {
        sim::Event& e = events_.emplace_back();
        e.at = now_;
        e.kind = kind;
        e.port = port;
        return e;
    }

    sim::Micros now_ = 0;
    std::vector<sim::Event> events_;
};

}  // namespace updatetest

#endif
