// The one scripted far end of a simulated line, for tests that need a unit
// the unit model is not: it keeps what the host writes with its times, sends
// bytes at fixed moments, replies to writes with pieces at fixed delays (after
// every write, or after the write that completes a given number of bytes),
// can hold CTS off, refuse one write, or take the line down.
#ifndef VENDRA_TESTS_SUPPORT_SCRIPTEDFAREND_H
#define VENDRA_TESTS_SUPPORT_SCRIPTEDFAREND_H

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "SimPlatform.h"

class ScriptedFarEnd : public platform::sim::FarEnd {
  public:
    using Micros = platform::sim::Micros;

    struct Piece {
        Micros after = 0;  // from the end of the write that triggers the reply
        std::string text;
    };

    explicit ScriptedFarEnd(std::vector<Piece> pieces = {}) : pieces_(std::move(pieces)) {}

    // Bytes that reach the host at `at`, whatever the host does.
    void sendAt(Micros at, std::string bytes) {
        const auto later = std::ranges::upper_bound(pending_, at, {}, &platform::sim::Arrival::at);
        pending_.insert(later, {at, std::move(bytes)});
    }
    // Replies only after the write that brings the bytes received to `total`.
    void replyAfterBytes(std::size_t total) { replyAfterBytes_ = total; }
    // The write with this number (counted from 1) fails.
    void refuseWrite(int number) { refusedWrite_ = number; }
    // Every write from now on fails, as on a line that went down.
    void takeLineDown() { lineUp_ = false; }
    void holdCtsOffUntil(Micros until) { ctsOffUntil_ = until; }

    bool receive(Micros at, std::string_view bytes, platform::sim::LineState) override {
        ++writes_;
        if (!lineUp_ || writes_ == refusedWrite_) {
            return false;
        }
        received_ += bytes;
        writeEnds_.push_back(at);
        if (replyAfterBytes_ == 0 || received_.size() == replyAfterBytes_) {
            for (const Piece& piece : pieces_) {
                sendAt(at + piece.after, piece.text);
            }
        }
        return true;
    }

    std::vector<platform::sim::Arrival> transmit(Micros until, platform::sim::LineState) override {
        std::vector<platform::sim::Arrival> due;
        while (!pending_.empty() && pending_.front().at <= until) {
            due.push_back(std::move(pending_.front()));
            pending_.erase(pending_.begin());
        }
        return due;
    }

    Micros ctsOnFrom(Micros now) override { return std::max(now, ctsOffUntil_); }

    // Every byte the host wrote that went through, in order.
    const std::string& received() const { return received_; }
    // The moment each write that went through was complete.
    const std::vector<Micros>& writeEnds() const { return writeEnds_; }

  private:
    std::vector<Piece> pieces_;
    std::size_t replyAfterBytes_ = 0;
    int refusedWrite_ = 0;
    int writes_ = 0;
    bool lineUp_ = true;
    Micros ctsOffUntil_ = 0;
    std::string received_;
    std::vector<Micros> writeEnds_;
    std::vector<platform::sim::Arrival> pending_;
};

#endif
