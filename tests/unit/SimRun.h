// Fixture for tests that run the update code on the simulated platform: a
// fresh virtual clock and transcript, the serial port layer at its initial
// settings, the shared globals at their start values, and the shared buffers
// when a test asks for them.
#ifndef VENDRA_TESTS_UNIT_SIMRUN_H
#define VENDRA_TESTS_UNIT_SIMRUN_H

#include <gtest/gtest.h>

#include "ComPortAPI.h"
#include "SimPlatform.h"
#include "VendraFwUpgrade.h"

class SimRun : public ::testing::Test {
protected:
    void SetUp() override {
        platform::sim::reset();
        ComPortAPI_RestoreInitialState();
        gComPortNumber = 0;
        gBaudRate = 0;
        gDataConcatenatedLenght = 0;
        gDataConcatenatedCheckSum = 0;
    }

    void TearDown() override {
        ComPortAPI_RestoreInitialState();
        releaseSharedBuffers();
        delete[] gHexFirmware;
        gHexFirmware = nullptr;
        delete[] gHexFPGA_Code;
        gHexFPGA_Code = nullptr;
        platform::sim::reset();
    }

    // The buffers and the microcontroller working copy, as the program entry
    // makes them at start.
    static void prepareBuffers() {
        obtainSharedBuffers();
        gHexFirmware = newImageWorkingCopy(0);
    }

    // Opens COM `port` at `baud` with CTS flow control `ctsFlow`, as the
    // update sequence finds it after discovery.
    static void openPort(int port, int baud, bool ctsFlow) {
        ComPortAPI_SetBaudRate(baud);
        ComPortAPI_SetHardwareFlowControl(ctsFlow ? 1 : 0);
        ASSERT_EQ(ComPortAPI_OpenCOM(port), 1);
        gComPortNumber = port;
        gBaudRate = baud;
    }
};

#endif
