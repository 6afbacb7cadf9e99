// unit-sim: serves one simulated unit on a pseudo-terminal, in real time, and
// links the terminal's slave under a directory as the device of a COM port,
// so the program built with that directory finds the unit there. Its options
// are listed by --help (the table kOptions).
//
// TEXT takes the escapes \r \n \\ \xhh. Once the link exists it prints
// "ready <link> <slave>" on standard output. SIGUSR1 writes the report now;
// SIGTERM or SIGINT writes it and ends, removing the link. The report (see
// UnitModel::report) goes to FILE, or to standard output without --report.
// The line rate and CTS flow control of what arrives are read from the
// slave's settings, which the host sets; a slave descriptor stays open all
// along so the master never sees a hang-up between the host's opens. When the
// unit holds CTS off, the slave's output is suspended (tcflow), so the host's
// writes wait as at a port whose CTS line is off.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Decimal.h"
#include "DeviceNames.h"
#include "LineSettings.h"
#include "TraceText.h"
#include "UnitModel.h"

namespace {

using unitsim::Micros;

constexpr int kIdlePollMs = 200;
constexpr std::size_t kReadChunk = 4096;

volatile std::sig_atomic_t gStop = 0;
volatile std::sig_atomic_t gReportNow = 0;

void onStop(int) {
    gStop = 1;
}
void onReport(int) {
    gReportNow = 1;
}

struct Options {
    std::filesystem::path dir;
    int port = 1;
    std::optional<std::string> reportFile;
    bool trace = false;
    unitsim::UnitConfig config;
};

std::string unescape(std::string_view text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            result += text[i];
            continue;
        }
        const char next = text[++i];
        if (next == 'r') {
            result += '\r';
        } else if (next == 'n') {
            result += '\n';
        } else if (next == 'x' && i + 2 < text.size() &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 1])) != 0 &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 2])) != 0) {
            result += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            result += next;
        }
    }
    return result;
}

void printUsage(std::ostream& out);
[[noreturn]] void usage(const std::string& problem);
long number(std::string_view option, const std::string& text);

// What the command line sets; faults and --mute apply after every other option.
struct Settings {
    Options options;
    std::optional<std::string> identity;
    std::vector<unitsim::Fault> faults;
    bool mute = false;
};

struct OptionEntry {
    std::string_view name;
    std::string_view argument;  // empty: the option takes no value
    std::string_view description;
    // False: cppcheck 2.10 does not see the call through the row found by name.
    // cppcheck-suppress unusedStructMember
    void (*apply)(Settings&, std::string_view option, const std::string& value);
};

unitsim::Micros millis(std::string_view option, const std::string& value) {
    return number(option, value) * unitsim::kMillis;
}

// Built at compile time, so that nothing of the table can fail at start-up.
constexpr OptionEntry kOptions[] = {
    {"--dir", "D", "directory of the link (required)",
     [](Settings& s, std::string_view, const std::string& v) { s.options.dir = v; }},
    {"--port", "N", "COM port number of the link (default 1)",
     [](Settings& s, std::string_view o, const std::string& v) {
         s.options.port = static_cast<int>(number(o, v));
     }},
    {"--rate", "R", "rate the unit answers commands at (default 9600)",
     [](Settings& s, std::string_view o, const std::string& v) {
         s.options.config.baud = static_cast<std::uint32_t>(number(o, v));
     }},
    {"--variant", "tx|rx", "the unit's variant (default tx)",
     [](Settings& s, std::string_view, const std::string& v) {
         if (v != "tx" && v != "rx") {
             usage("variant is tx or rx");
         }
         s.options.config.identity = v == "tx" ? unitsim::kTxIdentity : unitsim::kRxIdentity;
     }},
    {"--identity", "TEXT", "reply to \"%fw -p\"",
     [](Settings& s, std::string_view, const std::string& v) { s.identity = unescape(v); }},
    {"--version-reply", "TEXT", "reply to \"%fw -v\"",
     [](Settings& s, std::string_view, const std::string& v) {
         s.options.config.versionReply = unescape(v);
     }},
    {"--reboot-text", "TEXT", "what it sends once rebooted",
     [](Settings& s, std::string_view, const std::string& v) {
         s.options.config.rebootText = unescape(v);
     }},
    {"--reboot-ms", "MS", "verdict of \"%fw -h\" to the reboot text",
     [](Settings& s, std::string_view o, const std::string& v) {
         s.options.config.rebootTime = millis(o, v);
     }},
    {"--reply-delay-ms", "MS", "frame end to the reply of a query",
     [](Settings& s, std::string_view o, const std::string& v) {
         s.options.config.replyDelay = millis(o, v);
     }},
    {"--ready-delay-ms", "MS", "frame end to \"Ready\"",
     [](Settings& s, std::string_view o, const std::string& v) {
         s.options.config.readyDelay = millis(o, v);
     }},
    {"--success-delay-ms", "MS", "last data byte to the verdict",
     [](Settings& s, std::string_view o, const std::string& v) {
         s.options.config.successDelay = millis(o, v);
     }},
    {"--cts-hold-ms", "MS", "how long cts-held-10s keeps CTS off",
     [](Settings& s, std::string_view o, const std::string& v) {
         s.options.config.ctsHold = millis(o, v);
     }},
    {"--fault", "NAME", "a fault of the unit, repeatable (see below)",
     [](Settings& s, std::string_view, const std::string& v) {
         const auto fault = unitsim::faultFromName(v);
         if (!fault) {
             usage("unknown fault " + v);
         }
         s.faults.push_back(*fault);
     }},
    {"--mute", "", "answers nothing (as the fault silent)",
     [](Settings& s, std::string_view, const std::string&) { s.mute = true; }},
    {"--report", "FILE", "where the report goes (default: standard output)",
     [](Settings& s, std::string_view, const std::string& v) { s.options.reportFile = v; }},
    {"--trace", "", "line traffic with its times on standard error",
     [](Settings& s, std::string_view, const std::string&) { s.options.trace = true; }},
    {"--help", "", "this text",
     [](Settings&, std::string_view, const std::string&) {
         printUsage(std::cout);
         std::exit(0);
     }},
};

// One line of --help: the term in a column of its own, then the description.
void printItem(std::ostream& out, const std::string& term, std::string_view description) {
    constexpr std::size_t kTermColumn = 24;
    out << "  " << term
        << std::string(term.size() < kTermColumn ? kTermColumn - term.size() : 1, ' ')
        << description << '\n';
}

void printUsage(std::ostream& out) {
    out << "usage: unit-sim --dir D [option]...\n";
    for (const OptionEntry& entry : kOptions) {
        printItem(out,
                  std::string(entry.name) +
                      (entry.argument.empty() ? "" : " " + std::string(entry.argument)),
                  entry.description);
    }
    out << "faults:\n";
    for (const unitsim::FaultEntry& entry : unitsim::kFaults) {
        printItem(out, std::string(entry.name), entry.description);
    }
}

[[noreturn]] void usage(const std::string& problem) {
    std::cerr << "unit-sim: " << problem << "\n";
    printUsage(std::cerr);
    std::exit(2);
}

long number(std::string_view option, const std::string& text) {
    const std::optional<long> value = platform::strictDecimal<long>(text);
    if (!value) {
        usage("bad number for " + std::string(option) + ": " + text);
    }
    return *value;
}

Options parse(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        const auto* const entry = std::ranges::find(kOptions, option, &OptionEntry::name);
        if (entry == std::end(kOptions)) {
            usage("unknown option " + std::string(option));
        }
        std::string value;
        if (!entry->argument.empty()) {
            if (i + 1 >= argc) {
                usage("missing value for " + std::string(option));
            }
            value = argv[++i];
        }
        entry->apply(settings, option, value);
    }
    Options& options = settings.options;
    if (options.dir.empty()) {
        usage("--dir is required");
    }
    if (options.config.baud == 0) {
        usage("--rate must be above 0");
    }
    if (settings.identity) {
        options.config.identity = *settings.identity;
    }
    for (const unitsim::Fault fault : settings.faults) {
        unitsim::applyFault(options.config, fault);
    }
    if (settings.mute) {
        options.config.silent = true;
    }
    return options;
}

// The pseudo-terminal: the master that the unit talks through and one slave
// descriptor held open for reading the host's line settings.
class Pty {
  public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            fail("pseudo-terminal");
        }
        const char* name = ptsname(master_);
        if (name == nullptr) {
            fail("ptsname");
        }
        slaveName_ = name;
        slave_ = open(slaveName_.c_str(), O_RDWR | O_NOCTTY);
        if (slave_ < 0) {
            fail(slaveName_);
        }
        // Raw from the start, so nothing the unit sends is echoed back to it.
        termios settings{};
        if (tcgetattr(slave_, &settings) != 0) {
            fail(slaveName_);
        }
        cfmakeraw(&settings);
        if (tcsetattr(slave_, TCSANOW, &settings) != 0) {
            fail(slaveName_);
        }
        const int flags = fcntl(master_, F_GETFL);
        if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
            fail("pseudo-terminal");
        }
    }
    ~Pty() {
        dropMaster();
        close(slave_);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int master() const { return master_; }
    const std::string& slaveName() const { return slaveName_; }

    unitsim::Line hostLine() const {
        const std::optional<platform::posix::HeldLine> held = platform::posix::heldLine(slave_);
        return held ? unitsim::Line{held->rate, held->ctsFlow} : unitsim::Line{};
    }

    // The unit's CTS line: off suspends the host's output, as a port with CTS
    // flow control stops sending while CTS is off.
    void setClearToSend(bool on) {
        // A change the terminal refuses is tried again at the next turn.
        if (on != clearToSend_ && tcflow(slave_, on ? TCOON : TCOOFF) == 0) {
            clearToSend_ = on;
        }
    }

    // The line goes down: the host's side sees a hang-up.
    void dropMaster() {
        if (master_ >= 0) {
            close(master_);
            master_ = -1;
        }
    }

  private:
    [[noreturn]] static void fail(const std::string& what) {
        std::cerr << "unit-sim: " << what << ": " << std::strerror(errno) << '\n';
        std::exit(1);
    }

    int master_ = -1;
    int slave_ = -1;
    std::string slaveName_;
    bool clearToSend_ = true;
};

void writeReport(const Options& options, const unitsim::UnitModel& unit) {
    if (!options.reportFile) {
        std::cout << unit.report() << std::flush;
        return;
    }
    const std::string partial = *options.reportFile + ".part";
    {
        std::ofstream file(partial, std::ios::trunc);
        file << unit.report();
    }
    std::filesystem::rename(partial, *options.reportFile);
}

void trace(const Options& options, Micros at, std::string_view direction, std::string_view bytes,
           unitsim::Line line) {
    if (options.trace) {
        std::cerr << platform::sim::secondsText(at) << ' ' << direction << ' ' << line.baud
                  << " cts=" << (line.ctsFlow ? 1 : 0) << " \"" << unitsim::escapeBytes(bytes)
                  << "\"\n";
    }
}

void serve(const Options& options, Pty& pty, unitsim::UnitModel& unit) {
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [start] {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now() - start)
            .count();
    };
    std::array<char, kReadChunk> buffer{};
    while (gStop == 0) {
        int waitMs = kIdlePollMs;
        if (const auto next = unit.nextTransmitTime()) {
            waitMs = static_cast<int>(
                std::clamp<Micros>((*next - elapsed()) / 1000 + 1, 0, kIdlePollMs));
        }
        pollfd watched{pty.master(), POLLIN, 0};
        const int ready = poll(&watched, pty.master() >= 0 ? 1 : 0, waitMs);
        if (ready > 0 && (watched.revents & POLLIN) != 0) {
            const ssize_t got = read(pty.master(), buffer.data(), buffer.size());
            if (got > 0) {
                const Micros now = elapsed();
                const unitsim::Line line = pty.hostLine();
                const std::string_view bytes(buffer.data(), static_cast<std::size_t>(got));
                trace(options, now, "host>", bytes, line);
                if (!unit.receive(now, bytes, line)) {
                    pty.dropMaster();
                }
            }
        }
        if (gReportNow != 0) {
            gReportNow = 0;
            writeReport(options, unit);
        }
        const Micros now = elapsed();
        pty.setClearToSend(unit.ctsOnFrom(now) <= now);
        if (unit.lineDown()) {
            pty.dropMaster();
        }
        if (pty.master() < 0) {
            unit.transmit(now);
            continue;
        }
        const unitsim::Line line = pty.hostLine();
        for (const unitsim::Chunk& chunk : unit.transmit(now)) {
            const std::string bytes =
                chunk.baud == line.baud ? chunk.bytes : unitsim::garbled(chunk.bytes);
            trace(options, chunk.at, "unit>", bytes, {chunk.baud, false});
            // A host that does not read loses what overflows, as at a real port.
            [[maybe_unused]] const ssize_t written =
                write(pty.master(), bytes.data(), bytes.size());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    const std::optional<std::string> device = platform::posix::deviceNameOfPort(options.port);
    if (!device) {
        usage("port " + std::to_string(options.port) + " has no device name");
    }
    const std::filesystem::path link = options.dir / *device;

    struct sigaction stop {};
    stop.sa_handler = onStop;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    struct sigaction report {};
    report.sa_handler = onReport;
    sigaction(SIGUSR1, &report, nullptr);

    Pty pty;
    std::error_code error;
    std::filesystem::create_symlink(pty.slaveName(), link, error);
    if (error) {
        std::cerr << "unit-sim: cannot link " << link << ": " << error.message() << '\n';
        return 1;
    }
    std::cout << "ready " << link.string() << ' ' << pty.slaveName() << std::endl;

    unitsim::UnitModel unit(options.config);
    serve(options, pty, unit);

    std::filesystem::remove(link, error);
    writeReport(options, unit);
    return 0;
}
