// Replies of a far end, scripted by a fuzz input, and the far end that sends
// them on the simulated platform.
//
// The input is read as a byte stream with a few escapes:
//   FF FF       a literal FF
//   FF 00       the piece ends: what follows arrives one piece period later
//   FF 01       the reply ends: what follows answers the next write
//   FF 02 N B   the reply grows with the byte B to the reply store's
//               capacity plus N (a signed byte), so that sizes around the
//               capacity are easy to reach
//   FF x        (any other x) both bytes as they are
// Every other byte is a byte of the current piece, NULs included.
#ifndef VENDRA_FUZZ_SCRIPTEDREPLIES_H
#define VENDRA_FUZZ_SCRIPTEDREPLIES_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "SimPlatform.h"
#include "VendraFwUpgrade.h"

namespace fuzz {

// One reply: its pieces in order, none of them empty.
using Reply = std::vector<std::string>;

inline constexpr std::uint8_t ESCAPE = 0xFF;
inline constexpr std::uint8_t END_OF_PIECE = 0x00;
inline constexpr std::uint8_t END_OF_REPLY = 0x01;
inline constexpr std::uint8_t GROW_TO_CAPACITY = 0x02;
// What a reply store holds: every read asks for one byte less than the
// scratch buffer.
inline constexpr std::size_t REPLY_STORE_CAPACITY = DATA_BUFFER_SIZE - 1;

inline std::size_t totalSize(const Reply& reply) {
    std::size_t size = 0;
    for (const std::string& piece : reply) {
        size += piece.size();
    }
    return size;
}

inline std::string joined(const Reply& reply) {
    std::string text;
    for (const std::string& piece : reply) {
        text += piece;
    }
    return text;
}

class ReplyScript {
  public:
    explicit ReplyScript(std::span<const std::uint8_t> input) {
        for (std::size_t i = 0; i < input.size(); ++i) {
            if (input[i] != ESCAPE || i + 1 == input.size()) {
                piece_ += static_cast<char>(input[i]);
                continue;
            }
            const std::uint8_t code = input[++i];
            if (code == ESCAPE) {
                piece_ += static_cast<char>(ESCAPE);
            } else if (code == END_OF_PIECE) {
                endPiece();
            } else if (code == END_OF_REPLY) {
                endReply();
            } else if (code == GROW_TO_CAPACITY && i + 2 < input.size()) {
                const auto excess = static_cast<std::int8_t>(input[i + 1]);
                const auto filler = static_cast<char>(input[i + 2]);
                i += 2;
                growTo(REPLY_STORE_CAPACITY + excess, filler);
            } else {
                piece_ += static_cast<char>(ESCAPE);
                piece_ += static_cast<char>(code);
            }
        }
        endReply();
    }

    std::deque<Reply>& replies() { return replies_; }

  private:
    void endPiece() {
        if (!piece_.empty()) {
            reply_.push_back(std::move(piece_));
            piece_.clear();
        }
    }

    void endReply() {
        endPiece();
        replies_.push_back(std::move(reply_));
        reply_.clear();
    }

    void growTo(std::size_t size, char filler) {
        const std::size_t now = totalSize(reply_) + piece_.size();
        if (size > now) {
            piece_.append(size - now, filler);
        }
    }

    std::string piece_;
    Reply reply_;
    std::deque<Reply> replies_;
};

// Answers the n-th write of the host with the n-th reply: its first piece
// half a piece period after the write, each further piece one period later.
// With the period equal to the host's read time-out every piece comes in a
// read of its own. Writes beyond the script meet silence.
class ScriptedFarEnd : public platform::sim::FarEnd {
  public:
    using Micros = platform::sim::Micros;

    ScriptedFarEnd(std::deque<Reply> replies, Micros piecePeriod)
        : replies_(std::move(replies)), period_(piecePeriod) {}

    bool receive(Micros at, std::string_view, platform::sim::LineState) override {
        if (replies_.empty()) {
            return true;
        }
        Micros when = at + period_ / 2;
        for (std::string& piece : replies_.front()) {
            pending_.push_back({when, std::move(piece)});
            when += period_;
        }
        replies_.pop_front();
        return true;
    }

    std::vector<platform::sim::Arrival> transmit(Micros until, platform::sim::LineState) override {
        std::vector<platform::sim::Arrival> due;
        while (!pending_.empty() && pending_.front().at <= until) {
            due.push_back(std::move(pending_.front()));
            pending_.pop_front();
        }
        return due;
    }

  private:
    std::deque<Reply> replies_;
    Micros period_;
    std::deque<platform::sim::Arrival> pending_;
};

}  // namespace fuzz

#endif
