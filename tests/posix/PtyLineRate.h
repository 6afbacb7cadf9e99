// The rate of a pseudo-terminal's line as anyone on its slave side reads it:
// the number itself, also for a rate without a speed constant.
#ifndef VENDRA_TESTS_POSIX_PTYLINERATE_H
#define VENDRA_TESTS_POSIX_PTYLINERATE_H

#include <cstdint>
#include <string>

namespace posix_test {

std::uint32_t outputRate(const std::string& slavePath);

}  // namespace posix_test

#endif
