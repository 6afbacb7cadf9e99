// The program's one serial line to the unit: open by port number with the
// stored line settings and time-outs, raw reads and writes, and three setters.
#ifndef VENDRA_COMPORTAPI_H
#define VENDRA_COMPORTAPI_H

#include "Serial.h"

inline constexpr int RX_SIZE = 8192;
inline constexpr int TX_SIZE = 8192;
inline constexpr int MAX_WAIT_READ = 500;
inline constexpr int BAUD_RATE = 9600;

extern platform::SerialHandle g_hCOM;
extern DCB g_dcb;
extern COMMTIMEOUTS g_cto;

int ComPortAPI_OpenCOM(int nId);
int ComPortAPI_CloseCOM();
int ComPortAPI_ReadCOM(void* buffer, int nBytesToRead, int* pBytesRead);
int ComPortAPI_WriteCOM(const void* buffer, int nBytesToWrite, int* pBytesWritten);
int ComPortAPI_SetReadingTimeoutInMs(int timeoutInMs);
int ComPortAPI_SetBaudRate(int baudrate);
int ComPortAPI_SetHardwareFlowControl(int isEnable);

// Back to the state at program start: the port closed, no handle, both records
// at their initial values. For tests that run the layer more than once in one
// process.
void ComPortAPI_RestoreInitialState();

#endif
