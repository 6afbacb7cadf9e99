#include "ComPortAPI.h"

#include <algorithm>
#include <cstdint>

#include "Console.h"
#include "PortPath.h"
#include "SerialRecords.h"

namespace {

constexpr DCB kInitialDcb{
    .DCBlength = sizeof(DCB),
    .BaudRate = BAUD_RATE,
    .fBinary = 1,
    .fParity = 0,
    .fOutxCtsFlow = 1,
    .fOutxDsrFlow = 0,
    .fDtrControl = DTR_CONTROL_ENABLE,
    .fDsrSensitivity = 0,
    .fTXContinueOnXoff = 0,
    .fOutX = 0,
    .fInX = 0,
    .fErrorChar = 0,
    .fNull = 0,
    .fRtsControl = RTS_CONTROL_ENABLE,
    .fAbortOnError = 0,
    .fDummy2 = 0,
    .wReserved = 0,
    .XonLim = 256,
    .XoffLim = 256,
    .ByteSize = 8,
    .Parity = NOPARITY,
    .StopBits = ONESTOPBIT,
    .XonChar = 0x11,
    .XoffChar = 0x13,
    .ErrorChar = '?',
    .EofChar = 0x1A,
    .EvtChar = 0x10,
    .wReserved1 = 0,
};

constexpr COMMTIMEOUTS kInitialCto{
    .ReadIntervalTimeout = MAX_WAIT_READ,
    .ReadTotalTimeoutMultiplier = 0,
    .ReadTotalTimeoutConstant = MAX_WAIT_READ,
    .WriteTotalTimeoutMultiplier = 0,
    .WriteTotalTimeoutConstant = 0,
};

constexpr std::uint32_t kPurgeBothQueues =
    PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

std::uint32_t byteCount(int count) {
    return static_cast<std::uint32_t>(std::max(count, 0));
}

}  // namespace

platform::SerialHandle g_hCOM = platform::kNoSerialHandle;
DCB g_dcb = kInitialDcb;
COMMTIMEOUTS g_cto = kInitialCto;

void ComPortAPI_RestoreInitialState() {
    ComPortAPI_CloseCOM();
    g_dcb = kInitialDcb;
    g_cto = kInitialCto;
}

int ComPortAPI_OpenCOM(int nId) {
    g_hCOM = platform::serialOpen(platform::comPortPath(nId).c_str());
    if (g_hCOM == platform::kInvalidSerialHandle) {
        platform::consolePrintf("ERROR: Opening COM%d failed !", nId);
        return 0;
    }
    platform::serialSetupQueues(g_hCOM, RX_SIZE, TX_SIZE);
    if (!platform::serialSetTimeouts(g_hCOM, g_cto) || !platform::serialSetState(g_hCOM, g_dcb)) {
        platform::consolePrintf("ERROR: COM%d configuration failed !", nId);
        ComPortAPI_CloseCOM();
        return 0;
    }
    platform::serialPurge(g_hCOM, kPurgeBothQueues);
    platform::serialEscape(g_hCOM, SETDTR);
    return 1;
}

int ComPortAPI_CloseCOM() {
    platform::serialClose(g_hCOM);
    // A closed handle's value may come back for another object; forget it.
    g_hCOM = platform::kNoSerialHandle;
    return 1;
}

int ComPortAPI_ReadCOM(void* buffer, int nBytesToRead, int* pBytesRead) {
    std::uint32_t received = 0;
    const bool succeeded = platform::serialRead(g_hCOM, buffer, byteCount(nBytesToRead), &received);
    *pBytesRead = static_cast<int>(received);
    return succeeded ? 1 : 0;
}

int ComPortAPI_WriteCOM(const void* buffer, int nBytesToWrite, int* pBytesWritten) {
    std::uint32_t sent = 0;
    const bool succeeded = platform::serialWrite(g_hCOM, buffer, byteCount(nBytesToWrite), &sent);
    *pBytesWritten = static_cast<int>(sent);
    return succeeded ? 1 : 0;
}

int ComPortAPI_SetReadingTimeoutInMs(int timeoutInMs) {
    const auto timeout = static_cast<std::uint32_t>(timeoutInMs);
    if (g_cto.ReadIntervalTimeout == timeout) {
        return 1;
    }
    g_cto.ReadIntervalTimeout = timeout;
    g_cto.ReadTotalTimeoutConstant = timeout;
    return platform::serialSetTimeouts(g_hCOM, g_cto) ? 1 : 0;
}

int ComPortAPI_SetBaudRate(int baudrate) {
    const auto rate = static_cast<std::uint32_t>(baudrate);
    if (g_dcb.BaudRate == rate) {
        return 1;
    }
    g_dcb.BaudRate = rate;
    return platform::serialSetState(g_hCOM, g_dcb) ? 1 : 0;
}

int ComPortAPI_SetHardwareFlowControl(int isEnable) {
    if (static_cast<int>(g_dcb.fOutxCtsFlow) == isEnable) {
        return 1;
    }
    g_dcb.fOutxCtsFlow = static_cast<std::uint32_t>(isEnable) & 1U;
    return platform::serialSetState(g_hCOM, g_dcb) ? 1 : 0;
}
