// Fixture of the POSIX serial tests: COM3 is a fresh pseudo-terminal linked
// as ttyS2 under the test device directory, and the serial port layer starts
// and ends every test at its initial state.
#ifndef VENDRA_TESTS_POSIX_LINKEDPORTTEST_H
#define VENDRA_TESTS_POSIX_LINKEDPORTTEST_H

#include <gtest/gtest.h>

#include "ComPortAPI.h"
#include "PosixTestSupport.h"

namespace posix_test {

inline constexpr int kPort = 3;
inline constexpr const char* kPortDevice = "ttyS2";

class LinkedPortTest : public ::testing::Test {
  protected:
    LinkedPortTest() : link_(kPortDevice, unit_.slavePath()) {}
    void SetUp() override { ComPortAPI_RestoreInitialState(); }
    void TearDown() override { ComPortAPI_RestoreInitialState(); }

    PseudoTerminal unit_;
    DeviceLink link_;
};

}  // namespace posix_test

#endif
