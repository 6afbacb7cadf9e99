#include "UnitModel.h"

#include <algorithm>
#include <array>
#include <utility>

#include "Decimal.h"
#include "TraceText.h"

namespace unitsim {
namespace {

constexpr Micros kBitTimesPerSecond = 10'000'000;  // 10 bits a byte, in microseconds
constexpr std::size_t kLongestChunk = 64;          // bytes handed over at once
constexpr std::size_t kLongestFrame = 256;         // without its end, a frame is noise
constexpr std::string_view kFrameStart = "%%";
constexpr std::string_view kFrameEnd = "\n\r";
constexpr std::string_view kLoadLogic = "%fw -l";
constexpr std::string_view kLoadFirmware = "%fw -h";
constexpr std::string_view kHugePattern = "0123456789abcdef";

Micros byteTime(std::uint32_t baud) {
    return kBitTimesPerSecond / baud;
}

std::string lineText(Line line) {
    return "baud=" + std::to_string(line.baud) + " cts=" + (line.ctsFlow ? "1" : "0");
}

std::string timeText(Micros at) {
    return "t=" + platform::sim::secondsText(at);
}

// Where the mid-transfer faults strike: inside the second 10,240-byte block.
constexpr std::size_t kMidTransferBytes = 15'000;
constexpr std::size_t kLogicTransfer = 0;
constexpr std::size_t kFirmwareTransfer = 1;

}  // namespace

using namespace std::string_literals;

namespace {

// Built at compile time, so that nothing of the table can fail at start-up.
constexpr auto kFaultRows = std::to_array<FaultEntry>({
    {Fault::Silent, "silent", "answers nothing at all", [](UnitConfig& c) { c.silent = true; }},
    {Fault::SecondProbeOnly, "second-probe-only", "the first probe gets no answer",
     [](UnitConfig& c) { c.ignoreFirstProbe = true; }},
    {Fault::WrongIdentity, "wrong-identity", "\"%fw -p\" names another product",
     [](UnitConfig& c) { c.identity = "Korvan 12G SDI EXTENDER TX OVER COPPER\r\n>>"; }},
    {Fault::IdentityOneMore, "identity-one-more", "\"%fw -p\" answers one '>' too many",
     [](UnitConfig& c) { c.identity += '>'; }},
    {Fault::DeviceCode3, "device-code-3", "\"%fw -v\" reports device code 3",
     [](UnitConfig& c) { c.versionReply = "1.0.6 K620418 1.07 3\r\n>>"; }},
    {Fault::VersionFewerFields, "version-fewer-fields", "\"%fw -v\" lacks the device code",
     [](UnitConfig& c) { c.versionReply = "1.0.6 K620418 1.07\r\n>>"; }},
    {Fault::VersionMultiLine, "version-multi-line", "\"%fw -v\" spreads its fields over lines",
     [](UnitConfig& c) { c.versionReply = "1.0.6\r\nK620418\n\r1.07\r\n7\r\n>>"; }},
    {Fault::VersionLongModel, "version-long-model", "\"%fw -v\" has a model word of 10 characters",
     [](UnitConfig& c) { c.versionReply = "1.0.6 K6204180123 1.07 7\r\n>>"; }},
    {Fault::NoReady, "no-ready", "\"%fw -l\" and \"%fw -h\" get no answer",
     [](UnitConfig& c) { c.answersReady = false; }},
    {Fault::LateReady, "late-ready", "\"Ready\" comes after 12 s, past both time-outs",
     [](UnitConfig& c) { c.readyDelay = 12'000 * kMillis; }},
    {Fault::SplitReply, "split-reply", "every reply in two halves 300 ms apart",
     [](UnitConfig& c) { c.splitPause = 300 * kMillis; }},
    {Fault::WrongSuccess, "wrong-success", "the verdict on good data is \"ERROR\"",
     [](UnitConfig& c) { c.successText = "ERROR"; }},
    {Fault::HugeReply, "huge-reply", "every reply is 1,100,000 bytes",
     [](UnitConfig& c) { c.hugeReplyBytes = 1'100'000; }},
    {Fault::Chatter, "chatter", "repeats \">>\" every 100 ms from its first reply on",
     [](UnitConfig& c) { c.chatterPeriod = 100 * kMillis; }},
    {Fault::RebootSingleAngle, "reboot-single-angle", "the reboot text ends in one '>'",
     [](UnitConfig& c) { c.rebootText = "[boot] firmware 1.0.7 started\r\n>"; }},
    {Fault::RebootNoBracket, "reboot-no-bracket", "the reboot text does not begin with '['",
     [](UnitConfig& c) { c.rebootText = "boot] firmware 1.0.7 started\r\n>>"; }},
    {Fault::RebootBracketOnly, "reboot-bracket-only", "the reboot text is \"[\" alone",
     [](UnitConfig& c) { c.rebootText = "["s; }},
    {Fault::RebootNothing, "reboot-nothing", "reboots without a word",
     [](UnitConfig& c) { c.rebootText.clear(); }},
    {Fault::RebootEarly, "reboot-early", "back while the host's first read after its wait runs",
     [](UnitConfig& c) { c.rebootTime = 140'300 * kMillis; }},
    {Fault::LineDrop, "line-drop", "the line goes down inside the programmable-logic data",
     [](UnitConfig& c) {
         c.midTransfer = DataEvent{MidTransfer::DropLine, kLogicTransfer, kMidTransferBytes};
     }},
    {Fault::LineDropInFirmware, "line-drop-firmware",
     "the line goes down inside the microcontroller data",
     [](UnitConfig& c) {
         c.midTransfer = DataEvent{MidTransfer::DropLine, kFirmwareTransfer, kMidTransferBytes};
     }},
    {Fault::LineDropWhileRebooting, "line-drop-rebooting", "the line goes down as it reboots",
     [](UnitConfig& c) { c.lineDropWhileRebooting = true; }},
    {Fault::SilentInTransfer, "silent-mid-transfer",
     "stops answering inside the programmable-logic data",
     [](UnitConfig& c) {
         c.midTransfer = DataEvent{MidTransfer::FallSilent, kLogicTransfer, kMidTransferBytes};
     }},
    {Fault::RestartInTransfer, "restart-mid-transfer",
     "restarts inside the programmable-logic data and sends its reboot text",
     [](UnitConfig& c) {
         c.midTransfer = DataEvent{MidTransfer::Restart, kLogicTransfer, kMidTransferBytes};
     }},
    {Fault::CtsHeld10s, "cts-held-10s",
     "holds CTS off for 10 s (or --cts-hold-ms) inside the programmable-logic data",
     [](UnitConfig& c) {
         c.midTransfer = DataEvent{MidTransfer::HoldCts, kLogicTransfer, kMidTransferBytes};
     }},
    {Fault::NulInReady, "nul-in-ready",
     "answers \"Ready\", a NUL and an error to \"%fw -l\"/\"%fw -h\" and takes no data",
     [](UnitConfig& c) {
         c.readyText = "Ready\0 ERROR: flash locked"s;
         c.takesData = false;
     }},
    {Fault::NulInSuccess, "nul-in-success",
     "its verdict is \"SUCCESS\", a NUL and \"FAILED\", and it does not reboot",
     [](UnitConfig& c) {
         c.successText = "SUCCESS\0FAILED"s;
         c.rebootsAfterUpdate = false;
     }},
    {Fault::NulTrickle, "nul-trickle", "a NUL every 100 ms from its first reply on",
     [](UnitConfig& c) {
         c.chatterPeriod = 100 * kMillis;
         c.chatterText = "\0"s;
     }},
    {Fault::Reply1023999, "reply-1023999", "every reply is exactly 1,023,999 bytes",
     [](UnitConfig& c) { c.hugeReplyBytes = 1'023'999; }},
    {Fault::WrongRateGarbage, "wrong-rate-garbage",
     "answers nothing and sends its prompt every second at 19,200 baud from the start",
     [](UnitConfig& c) {
         c.silent = true;
         c.chatterPeriod = 1000 * kMillis;
         c.chatterBaud = 19200;
         c.chatterFromStart = true;
     }},
});

}  // namespace

const std::span<const FaultEntry> kFaults{kFaultRows};

std::optional<Fault> faultFromName(std::string_view name) {
    const auto found = std::ranges::find(kFaults, name, &FaultEntry::name);
    if (found == kFaults.end()) {
        return std::nullopt;
    }
    return found->fault;
}

UnitConfig configFor(Variant variant, std::uint32_t baud) {
    UnitConfig config;
    config.identity = variant == Variant::Tx ? kTxIdentity : kRxIdentity;
    config.baud = baud;
    return config;
}

void applyFault(UnitConfig& config, Fault fault) {
    const auto found = std::ranges::find(kFaults, fault, &FaultEntry::fault);
    if (found != kFaults.end()) {
        found->apply(config);
    }
}

std::uint32_t imageChecksum(std::string_view bytes) {
    std::uint32_t checksum = 0;
    for (const char c : bytes) {
        checksum -= static_cast<unsigned char>(c);
    }
    return checksum;
}

std::string garbled(std::string_view bytes) {
    std::string result(bytes);
    for (char& c : result) {
        c = static_cast<char>(static_cast<unsigned char>(c) ^ 0x80U);
    }
    return result;
}

std::string escapeBytes(std::string_view bytes) {
    return platform::sim::escapeBytes(bytes);
}

UnitModel::UnitModel(UnitConfig config) : config_(std::move(config)), listenBaud_(config_.baud) {
    if (config_.chatterPeriod > 0 && config_.chatterFromStart) {
        chatterNext_ = config_.chatterPeriod;
    }
}

bool UnitModel::receive(Micros at, std::string_view bytes, Line line) {
    if (lineDown_) {
        return false;
    }
    settle(at);
    runChatter(at);
    if (lineHistory_.empty() || lineHistory_.back().line != line) {
        lineHistory_.push_back({at, line});
    }
    while (!bytes.empty()) {
        if (mode_ == Mode::Hung) {
            return true;
        }
        if (mode_ == Mode::Rebooting) {
            violation(at, "sent while the unit reboots: \"" + escapeBytes(bytes) + "\"");
            return true;
        }
        if (mode_ == Mode::Data) {
            Transfer& transfer = transfers_.back();
            const std::size_t take =
                std::min<std::size_t>(bytes.size(), transfer.length - transfer.data.size());
            if (!takeDataBytes(at, bytes.substr(0, take), line)) {
                return false;
            }
            bytes.remove_prefix(take);
            continue;
        }
        takeCommandBytes(at, bytes, line);
        return true;
    }
    return true;
}

std::vector<Chunk> UnitModel::transmit(Micros until) {
    std::vector<Chunk> chunks;
    // Output due before a scheduled change goes out before it: a line that
    // drops as the unit reboots still carries the verdict sent before.
    while (!scheduled_.empty() && scheduled_.begin()->first <= until) {
        const Micros at = scheduled_.begin()->first;
        emit(at, chunks);
        settle(at);
    }
    runChatter(until);
    emit(until, chunks);
    return chunks;
}

void UnitModel::emit(Micros until, std::vector<Chunk>& chunks) {
    if (lineDown_) {
        output_.clear();
        return;
    }
    while (!output_.empty()) {
        Outgoing& out = output_.front();
        const Micros perByte = byteTime(out.baud);
        while (out.sent < out.text.size()) {
            const Micros elapsed = until - out.start;
            const auto due = elapsed < 0 ? 0 : static_cast<std::size_t>(elapsed / perByte);
            const std::size_t count = std::min(
                {kLongestChunk, out.text.size() - out.sent, due > out.sent ? due - out.sent : 0});
            if (count == 0) {
                return;
            }
            chunks.push_back({out.start + static_cast<Micros>(out.sent + count) * perByte,
                              out.text.substr(out.sent, count), out.baud});
            out.sent += count;
        }
        output_.pop_front();
    }
}

std::optional<Micros> UnitModel::nextTransmitTime() const {
    std::optional<Micros> next;
    if (!lineDown_ && !output_.empty()) {
        const Outgoing& out = output_.front();
        next = out.start + static_cast<Micros>(out.sent + 1) * byteTime(out.baud);
    }
    if (chatterNext_ && (!next || *chatterNext_ < *next)) {
        next = *chatterNext_;
    }
    if (!scheduled_.empty() && (!next || scheduled_.begin()->first < *next)) {
        next = scheduled_.begin()->first;
    }
    return next;
}

Micros UnitModel::ctsOnFrom(Micros now) const {
    return now >= ctsOffFrom_ && now < ctsOffUntil_ ? ctsOffUntil_ : now;
}

void UnitModel::settle(Micros until) {
    while (!scheduled_.empty() && scheduled_.begin()->first <= until) {
        const auto [at, action] = *scheduled_.begin();
        scheduled_.erase(scheduled_.begin());
        switch (action) {
            case Action::EnterData:
                mode_ = Mode::Data;
                listenBaud_ = kDataBaud;
                transferClean_ = true;
                if (transfers_.back().length == 0) {
                    finishTransfer(at);
                }
                break;
            case Action::Reboot:
                mode_ = Mode::Rebooting;
                frameBuffer_.clear();
                if (config_.lineDropWhileRebooting) {
                    lineDown_ = true;
                    output_.clear();
                }
                break;
            case Action::BackUp:
                mode_ = Mode::Command;
                listenBaud_ = config_.baud;
                ++reboots_;
                break;
        }
    }
}

void UnitModel::runChatter(Micros until) {
    while (chatterNext_ && *chatterNext_ <= until && !lineDown_) {
        send(*chatterNext_, config_.chatterText,
             config_.chatterBaud > 0 ? config_.chatterBaud : listenBaud_);
        *chatterNext_ += config_.chatterPeriod;
    }
}

void UnitModel::takeCommandBytes(Micros at, std::string_view bytes, Line line) {
    if (line.baud != listenBaud_) {
        garbageBytes_ += bytes.size();
        frameBuffer_.clear();
        return;
    }
    frameBuffer_ += bytes;
    for (std::size_t end = frameBuffer_.find(kFrameEnd); end != std::string::npos;
         end = frameBuffer_.find(kFrameEnd)) {
        const std::string frame = frameBuffer_.substr(0, end);
        frameBuffer_.erase(0, end + kFrameEnd.size());
        if (frame.starts_with(kFrameStart)) {
            handleCommand(at, frame.substr(kFrameStart.size()), line);
        } else {
            violation(at, "malformed frame \"" + escapeBytes(frame) + "\"");
        }
    }
    if (frameBuffer_.size() > kLongestFrame) {
        violation(at, "no frame end in \"" + escapeBytes(frameBuffer_) + "\"");
        frameBuffer_.clear();
    }
}

bool UnitModel::takeDataBytes(Micros at, std::string_view bytes, Line line) {
    Transfer& transfer = transfers_.back();
    if (transfer.lines.empty() || transfer.lines.back() != line) {
        transfer.lines.push_back(line);
    }
    if (line.baud != kDataBaud) {
        violation(at, "data at " + std::to_string(line.baud) + " baud");
        transferClean_ = false;
    }
    if (!line.ctsFlow) {
        violation(at, "data without CTS flow control");
        transferClean_ = false;
    }
    const bool wrongRate = line.baud != listenBaud_;
    const auto take = [&](std::string_view part) {
        transfer.data += wrongRate ? garbled(part) : std::string(part);
    };
    const std::optional<DataEvent>& event = config_.midTransfer;
    if (event && !midTransferDone_ && event->transfer + 1 == transfers_.size() &&
        transfer.data.size() + bytes.size() > event->bytes) {
        const std::size_t before = std::min(event->bytes - transfer.data.size(), bytes.size());
        take(bytes.substr(0, before));
        midTransferDone_ = true;
        if (!runMidTransferEvent(at)) {
            return false;
        }
        if (mode_ != Mode::Data) {
            return true;
        }
        bytes.remove_prefix(before);
    }
    take(bytes);
    if (transfer.data.size() == transfer.length) {
        finishTransfer(at);
    }
    return true;
}

// False when the line is down.
bool UnitModel::runMidTransferEvent(Micros at) {
    switch (config_.midTransfer->what) {
        case MidTransfer::DropLine:
            lineDown_ = true;
            output_.clear();
            return false;
        case MidTransfer::FallSilent:
            mode_ = Mode::Hung;
            chatterNext_.reset();
            break;
        case MidTransfer::Restart:
            startReboot(at, config_.restartTime);
            settle(at);
            break;
        case MidTransfer::HoldCts:
            ctsOffFrom_ = at;
            ctsOffUntil_ = at + config_.ctsHold;
            break;
    }
    return true;
}

void UnitModel::startReboot(Micros at, Micros duration) {
    scheduled_.emplace(at, Action::Reboot);
    scheduled_.emplace(at + duration, Action::BackUp);
    if (!config_.rebootText.empty()) {
        send(at + duration, config_.rebootText, config_.baud);
    }
}

void UnitModel::handleCommand(Micros at, const std::string& command, Line line) {
    frames_.push_back({at, command, line});
    if (config_.silent) {
        return;
    }
    if (command == "%help -c version") {
        if (config_.ignoreFirstProbe && !probeIgnored_) {
            probeIgnored_ = true;
            return;
        }
        reply(at, config_.replyDelay, kHelpVersionReply);
    } else if (command == "%fw -v") {
        reply(at, config_.replyDelay, config_.versionReply);
    } else if (command == "%fw -p") {
        reply(at, config_.replyDelay, config_.identity);
    } else if (command.starts_with(std::string(kLoadLogic) + ' ') ||
               command.starts_with(std::string(kLoadFirmware) + ' ')) {
        startTransfer(at, command);
    } else {
        violation(at, "unknown command \"" + escapeBytes(command) + "\"");
    }
}

void UnitModel::startTransfer(Micros at, const std::string& command) {
    const std::string_view arguments = std::string_view(command).substr(kLoadLogic.size() + 1);
    const std::size_t space = arguments.find(' ');
    const auto checksum = platform::strictDecimal<std::uint32_t>(arguments.substr(0, space));
    const auto length = space == std::string_view::npos
                            ? std::nullopt
                            : platform::strictDecimal<std::int32_t>(arguments.substr(space + 1));
    if (!checksum || !length || *length < 0) {
        violation(at, "bad load command \"" + escapeBytes(command) + "\"");
        return;
    }
    if (!config_.answersReady) {
        return;
    }
    Transfer transfer;
    transfer.command = command.substr(0, kLoadLogic.size());
    transfer.checksum = *checksum;
    transfer.length = static_cast<std::uint32_t>(*length);
    reply(at, config_.readyDelay, config_.readyText);
    if (config_.takesData) {
        transfers_.push_back(std::move(transfer));
        scheduled_.emplace(outputFreeAt_, Action::EnterData);
    }
}

void UnitModel::finishTransfer(Micros at) {
    Transfer& transfer = transfers_.back();
    transfer.complete = true;
    transfer.succeeded = transferClean_ && imageChecksum(transfer.data) == transfer.checksum;
    mode_ = Mode::Command;
    reply(at, config_.successDelay, transfer.succeeded ? config_.successText : config_.failureText);
    if (transfer.succeeded && transfer.command == kLoadFirmware && config_.rebootsAfterUpdate) {
        startReboot(outputFreeAt_, config_.rebootTime);
    }
}

void UnitModel::reply(Micros at, Micros delay, std::string_view text) {
    std::string whole(text);
    if (config_.hugeReplyBytes > 0) {
        whole.clear();
        while (whole.size() < config_.hugeReplyBytes) {
            whole += kHugePattern;
        }
        whole.resize(config_.hugeReplyBytes);
    }
    if (config_.splitPause > 0 && whole.size() > 1) {
        const std::size_t half = whole.size() / 2;
        const Micros firstEnd = send(at + delay, whole.substr(0, half), listenBaud_);
        send(firstEnd + config_.splitPause, whole.substr(half), listenBaud_);
    } else {
        send(at + delay, std::move(whole), listenBaud_);
    }
    if (config_.chatterPeriod > 0 && !chatterNext_) {
        chatterNext_ = outputFreeAt_ + config_.chatterPeriod;
    }
}

Micros UnitModel::send(Micros earliest, std::string text, std::uint32_t baud) {
    const Micros start = std::max(earliest, outputFreeAt_);
    outputFreeAt_ = start + static_cast<Micros>(text.size()) * byteTime(baud);
    output_.push_back({start, std::move(text), baud, 0});
    return outputFreeAt_;
}

void UnitModel::violation(Micros at, std::string what) {
    violations_.push_back({at, std::move(what)});
}

std::string UnitModel::report() const {
    std::string text;
    for (const LineChange& change : lineHistory_) {
        text += "line " + timeText(change.at) + " " + lineText(change.line) + "\n";
    }
    for (const Frame& frame : frames_) {
        text += "frame " + timeText(frame.at) + " " + lineText(frame.line) + " command=\"" +
                escapeBytes(frame.command) + "\"\n";
    }
    for (const Transfer& transfer : transfers_) {
        text += "transfer command=\"" + transfer.command +
                "\" checksum=" + std::to_string(transfer.checksum) +
                " length=" + std::to_string(transfer.length) +
                " received=" + std::to_string(transfer.data.size()) +
                " sum=" + std::to_string(imageChecksum(transfer.data)) + " lines=";
        for (const Line& line : transfer.lines) {
            text += std::to_string(line.baud) + (line.ctsFlow ? "/cts," : "/nocts,");
        }
        text += std::string(" result=") +
                (transfer.succeeded  ? "success"
                 : transfer.complete ? "failure"
                                     : "incomplete") +
                "\n";
    }
    for (const Violation& v : violations_) {
        text += "violation " + timeText(v.at) + " " + v.what + "\n";
    }
    text += "garbage bytes=" + std::to_string(garbageBytes_) + "\n";
    text += "reboots count=" + std::to_string(reboots_) + "\n";
    if (lineDown_) {
        text += "line-down\n";
    }
    return text;
}

}  // namespace unitsim
