// A property a fuzz target asserts. A broken one stops the run with its
// description; libFuzzer reports that as a crash and keeps the input.
#ifndef VENDRA_FUZZ_FUZZCHECK_H
#define VENDRA_FUZZ_FUZZCHECK_H

#include <cstdio>
#include <cstdlib>

inline void require(bool holds, const char* property) {
    if (!holds) {
        (void)std::fprintf(stderr, "property broken: %s\n", property);
        std::abort();
    }
}

#endif
