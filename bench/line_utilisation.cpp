// How fully the data phase of an upload uses the line: sendData writes an
// image in 10,240-byte pieces to a pseudo-terminal whose far end reads at
// the line rate of 115,200 baud (11,520 bytes/s) and answers "SUCCESS" after
// the last byte. Prints the data phase's bytes per second, from the call to
// the last byte at the far end, as a share of the line's capacity. A writer
// that left the line idle between pieces shows below 100 %.
//
// Usage: line_utilisation [PIECES]   (default 20 pieces, about 18 s)
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "ComPortAPI.h"
#include "DeviceDir.h"
#include "VendraFwUpgrade.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLineRate = 115200;
// Start bit, eight data bits, stop bit.
constexpr double kBytesPerSecond = kLineRate / 10.0;
constexpr int kDefaultPieces = 20;
constexpr int kPort = 1;
constexpr const char* kDevice = "ttyS0";
constexpr int kPollMs = 5;

// The unit's end: takes bytes no faster than the line delivers them.
void farEnd(int master, long total, Clock::time_point& lastByte) {
    const Clock::time_point start = Clock::now();
    long received = 0;
    char buffer[4096];
    while (received < total) {
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const long allowed = static_cast<long>(seconds * kBytesPerSecond) - received;
        if (allowed <= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        pollfd entry{master, POLLIN, 0};
        if (::poll(&entry, 1, kPollMs) <= 0) {
            continue;
        }
        const ssize_t count = ::read(
            master, buffer, static_cast<std::size_t>(std::min<long>(allowed, sizeof buffer)));
        if (count > 0) {
            received += count;
        }
    }
    lastByte = Clock::now();
    static constexpr char kSuccess[] = "SUCCESS";
    static_cast<void>(::write(master, kSuccess, sizeof kSuccess - 1));
}

}  // namespace

int main(int argc, char** argv) {
    const int pieces = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultPieces;
    const long total = static_cast<long>(pieces) * DATA_CHUNK_SIZE;

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("posix_openpt");
        return 2;
    }
    const std::filesystem::path devices(platform::posix::kSerialDeviceDir);
    std::filesystem::create_directories(devices);
    std::filesystem::create_directories(platform::posix::kSerialLockDir);
    std::filesystem::remove(devices / kDevice);
    std::filesystem::create_symlink(::ptsname(master), devices / kDevice);

    obtainSharedBuffers();
    for (long i = 0; i < total; ++i) {
        gDataConcatenated[i] = static_cast<std::uint8_t>(i * 7);
    }
    if (ComPortAPI_OpenCOM(kPort) == 0 || ComPortAPI_SetBaudRate(kLineRate) == 0 ||
        ComPortAPI_SetReadingTimeoutInMs(1000) == 0) {
        std::fprintf(stderr, "cannot open the bench's line\n");
        return 2;
    }

    // The percentage display would mix with the figures.
    std::fflush(stdout);
    const int savedOut = ::dup(STDOUT_FILENO);
    const int quiet = ::open("/dev/null", O_WRONLY);
    ::dup2(quiet, STDOUT_FILENO);

    Clock::time_point lastByte;
    const Clock::time_point start = Clock::now();
    std::thread unit(farEnd, master, total, std::ref(lastByte));
    const int sent = sendData(gDataConcatenated, static_cast<std::int32_t>(total), 1, "SUCCESS");
    unit.join();

    std::fflush(stdout);
    ::dup2(savedOut, STDOUT_FILENO);
    ComPortAPI_CloseCOM();
    releaseSharedBuffers();
    std::filesystem::remove(devices / kDevice);

    const double seconds = std::chrono::duration<double>(lastByte - start).count();
    const double bytesPerSecond = static_cast<double>(total) / seconds;
    std::printf("data phase: %ld bytes in %.3f s, %.1f bytes/s of %.0f: %.2f %% of the line (%s)\n",
                total, seconds, bytesPerSecond, kBytesPerSecond,
                100.0 * bytesPerSecond / kBytesPerSecond, sent != 0 ? "SUCCESS" : "failed");
    return sent != 0 ? 0 : 1;
}
