// A far end for exchange tests that need replies the unit model never gives:
// it takes what the host writes and, after a write that completes a given
// number of bytes (or after every write), sends its pieces at fixed delays.
// One write can be refused, as by a line that went down.
#ifndef VENDRA_TESTS_UNIT_RESPONDINGFAREND_H
#define VENDRA_TESTS_UNIT_RESPONDINGFAREND_H

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "SimPlatform.h"

class RespondingFarEnd : public platform::sim::FarEnd {
  public:
    using Micros = platform::sim::Micros;

    struct Piece {
        Micros after = 0;  // from the end of the write that triggers the reply
        std::string text;
    };

    explicit RespondingFarEnd(std::vector<Piece> pieces = {}) : pieces_(std::move(pieces)) {}

    // Replies only after the write that brings the bytes received to `total`.
    void replyAfterBytes(std::size_t total) { replyAfterBytes_ = total; }
    // The write with this number (counted from 1) fails.
    void refuseWrite(int number) { refusedWrite_ = number; }

    bool receive(Micros at, std::string_view bytes, platform::sim::LineState) override {
        ++writes_;
        if (writes_ == refusedWrite_) {
            return false;
        }
        received_ += bytes;
        if (replyAfterBytes_ == 0 || received_.size() == replyAfterBytes_) {
            for (const Piece& piece : pieces_) {
                pending_.push_back({at + piece.after, piece.text});
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

    const std::string& received() const { return received_; }

  private:
    std::vector<Piece> pieces_;
    std::size_t replyAfterBytes_ = 0;
    int refusedWrite_ = 0;
    int writes_ = 0;
    std::string received_;
    std::vector<platform::sim::Arrival> pending_;
};

#endif
