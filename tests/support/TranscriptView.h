// The view of a simulated run's transcript that the update tests compare:
// what the operator and the unit see, with virtual times: console text
// (adjacent pieces joined), operator input and key, opens, closes (with the
// line and read time-out in force), writes (with their line rate and CTS flow
// control), reads and sleeps; and a comparison that names the first
// differing line.
#ifndef VENDRA_TESTS_SUPPORT_TRANSCRIPTVIEW_H
#define VENDRA_TESTS_SUPPORT_TRANSCRIPTVIEW_H

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "SimPlatform.h"

namespace updatetest {

namespace sim = platform::sim;

inline bool shownInView(sim::EventKind kind) {
    switch (kind) {
        case sim::EventKind::Console:
        case sim::EventKind::ConsoleRead:
        case sim::EventKind::Key:
        case sim::EventKind::Open:
        case sim::EventKind::Close:
        case sim::EventKind::Write:
        case sim::EventKind::Read:
        case sim::EventKind::Sleep:
            return true;
        default:
            return false;
    }
}

inline std::string renderView(const std::vector<sim::Event>& events) {
    std::vector<sim::Event> shown;
    for (const sim::Event& event : events) {
        if (!shownInView(event.kind)) {
            continue;
        }
        if (event.kind == sim::EventKind::Console && !shown.empty() &&
            shown.back().kind == sim::EventKind::Console) {
            shown.back().text += event.text;
            continue;
        }
        shown.push_back(event);
    }
    std::string text;
    for (const sim::Event& event : shown) {
        if (event.kind == sim::EventKind::Console && event.text.empty()) {
            continue;
        }
        text += sim::renderEvent(event) + "\n";
    }
    return text;
}

// Equal texts; otherwise a failure that shows the first differing line of
// each with the line before it.
inline void expectSameText(const std::string& actual, const std::string& expected) {
    if (actual == expected) {
        return;
    }
    std::size_t line = 1;
    std::size_t start = 0;
    std::size_t previous = 0;
    for (std::size_t i = 0;
         i < std::min(actual.size(), expected.size()) && actual[i] == expected[i]; ++i) {
        if (actual[i] == '\n') {
            ++line;
            previous = start;
            start = i + 1;
        }
    }
    const auto lineAt = [](const std::string& text, std::size_t from) {
        return text.substr(from, text.find('\n', from) - from);
    };
    ADD_FAILURE() << "transcripts differ at line " << line
                  << "\n  both:     " << lineAt(expected, previous)
                  << "\n  actual:   " << lineAt(actual, start)
                  << "\n  expected: " << lineAt(expected, start) << "\n  (actual " << actual.size()
                  << " bytes, expected " << expected.size() << ")";
}

}  // namespace updatetest

#endif
