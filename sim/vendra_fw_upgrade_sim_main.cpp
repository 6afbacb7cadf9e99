// VendraFwUpgrade-sim: the console run of VendraFwUpgrade against a simulated
// unit on the simulated platform, paced to real time so that it can be
// watched. The console text goes to standard output as the program writes it;
// the operator's entries and the final key come from the real standard input,
// which the simulated console asks for once its script has run out.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Decimal.h"
#include "SimLink.h"
#include "SimPlatform.h"
#include "StdinLine.h"
#include "TerminalKey.h"
#include "UnitModel.h"
#include "VendraFwUpgrade.h"

namespace {

namespace sim = platform::sim;

// A full update lasts some 390 s of virtual time; this shows it in about 20 s.
constexpr double kDefaultSpeed = 20;
constexpr int kDefaultPort = 3;
constexpr std::uint32_t kDefaultRate = 9600;
constexpr int kSilentPort = 1;
constexpr int kUsageStatus = 2;

struct Options {
    unitsim::Variant variant = unitsim::Variant::Tx;
    int port = kDefaultPort;
    std::uint32_t rate = kDefaultRate;
    double speed = kDefaultSpeed;
    std::vector<unitsim::Fault> faults;
    bool trace = false;
};

void printUsage(std::ostream& out) {
    out << "usage: VendraFwUpgrade-sim [--variant tx|rx] [--port N] [--rate R]\n"
           "                           [--speed X|max] [--fault NAME]... [--trace] [--help]\n"
           "\n"
           "Runs the console update against a simulated unit: the unit on COM N (default "
        << kDefaultPort << ")\nanswering at R baud (default " << kDefaultRate
        << "), COM1 present without a unit (unless N is 1).\n"
           "  --variant  tx (default) or rx\n"
           "  --speed    virtual seconds per real second (default "
        << kDefaultSpeed
        << "); 0 or max: no pacing\n"
           "  --fault    a fault of the unit, repeatable:";
    for (const unitsim::FaultEntry& entry : unitsim::kFaults) {
        out << ' ' << entry.name;
    }
    out << "\n"
           "  --trace    line traffic with its virtual times on standard error\n"
           "The operator's entries and the final key come from standard input; the end\n"
           "of input counts as the key. The exit status is the program's.\n";
}

[[noreturn]] void refuse(const std::string& problem) {
    std::cerr << "VendraFwUpgrade-sim: " << problem << "\n";
    printUsage(std::cerr);
    std::exit(kUsageStatus);
}

template <typename Number>
Number wholeNumber(std::string_view option, const std::string& text) {
    const std::optional<Number> value = platform::strictDecimal<Number>(text);
    if (!value || *value < 1) {
        refuse("bad value for " + std::string(option) + ": " + text);
    }
    return *value;
}

double speedFactor(const std::string& text) {
    if (text == "max") {
        return 0;
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= 0)) {
        refuse("bad value for --speed: " + text + " (a number, 0 or max for no pacing)");
    }
    return value;
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--help" || option == "-h") {
            printUsage(std::cout);
            std::exit(0);
        }
        if (option == "--trace") {
            options.trace = true;
            continue;
        }
        const bool takesValue = option == "--variant" || option == "--port" || option == "--rate" ||
                                option == "--speed" || option == "--fault";
        if (!takesValue) {
            refuse("unknown option " + std::string(option));
        }
        if (i + 1 >= argc) {
            refuse("missing value for " + std::string(option));
        }
        const std::string value = argv[++i];
        if (option == "--variant") {
            if (value != "tx" && value != "rx") {
                refuse("--variant is tx or rx, not " + value);
            }
            options.variant = value == "tx" ? unitsim::Variant::Tx : unitsim::Variant::Rx;
        } else if (option == "--port") {
            options.port = wholeNumber<int>(option, value);
        } else if (option == "--rate") {
            options.rate = wholeNumber<std::uint32_t>(option, value);
        } else if (option == "--speed") {
            options.speed = speedFactor(value);
        } else {
            const std::optional<unitsim::Fault> fault = unitsim::faultFromName(value);
            if (!fault) {
                refuse("unknown fault " + value);
            }
            options.faults.push_back(*fault);
        }
    }
    return options;
}

// The operator's entry once the program's scripted input has run out: a line
// or a key from the real standard input.
std::optional<std::string> operatorEntry(sim::OperatorEntry entry) {
    if (entry == sim::OperatorEntry::Key) {
        const std::optional<char> key = platform::posix::readKey();
        return key ? std::optional<std::string>(std::in_place, 1, *key) : std::nullopt;
    }
    std::string line;
    if (!platform::readStdinLine(line)) {
        return std::nullopt;
    }
    return line + '\n';
}

void show(const sim::Event& event, bool trace) {
    switch (event.kind) {
        case sim::EventKind::Console:
            // Text the terminal does not take is lost to the watcher alone.
            static_cast<void>(std::fwrite(event.text.data(), 1, event.text.size(), stdout));
            static_cast<void>(std::fflush(stdout));
            return;
        case sim::EventKind::ConsoleRead:
        case sim::EventKind::Key:
        case sim::EventKind::Discard:
            return;
        default:
            if (trace) {
                static_cast<void>(std::fprintf(stderr, "%s\n", sim::renderEvent(event).c_str()));
            }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);

    unitsim::UnitConfig config = unitsim::configFor(options.variant, options.rate);
    for (const unitsim::Fault fault : options.faults) {
        unitsim::applyFault(config, fault);
    }
    unitsim::UnitModel unit(config);
    unitsim::SimLink link(unit);

    sim::reset();
    if (options.port != kSilentPort) {
        sim::addSilentPort(kSilentPort);
    }
    sim::addUnitPort(options.port, link);
    sim::setPacing(options.speed);
    sim::setOperatorInput(operatorEntry);
    sim::setTraceCallback([trace = options.trace](const sim::Event& event) { show(event, trace); });

    const int status = runVendraFwUpgrade();
    sim::reset();
    return status;
}
