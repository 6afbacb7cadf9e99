// The far ends of the serial ports under test. Under Wine each port is a
// pseudo-terminal linked as COM n; its far end is held by far_side.py, the
// Linux process that started this program. A request is one marked line on
// standard output, the answer one line on standard input.
#ifndef VENDRA_TESTS_WINDOWS_FARSIDE_H
#define VENDRA_TESTS_WINDOWS_FARSIDE_H

#include <cstdint>
#include <string>
#include <string_view>

namespace far_side {

struct LineSettings {
    std::uint32_t baudRate = 0;
    bool ctsFlow = false;
    // Data bits, parity and stop bits, as in "8N1".
    std::string frame;
};

// The line as anyone else on the port's side of the pseudo-terminal sees it.
LineSettings lineSettings(int port);
// Changes rate and CTS flow control behind the program's back, to tell a
// setting the program applies from one left over.
void setLineSettings(int port, std::uint32_t baudRate, bool ctsFlow);
// Bytes from the unit's side, waiting for the program to read them.
void send(int port, std::string_view bytes);
// Everything the program wrote that reached the far end, once the line has
// stayed quiet for a moment.
std::string receive(int port);

}  // namespace far_side

#endif
