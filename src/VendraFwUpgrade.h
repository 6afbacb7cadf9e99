// The update console: program entry and operator dialogue, port discovery,
// unit identification, image upload and reboot, the command and data
// exchange, the image assembler and the web update file writer.
#ifndef VENDRA_VENDRAFWUPGRADE_H
#define VENDRA_VENDRAFWUPGRADE_H

#include <cstdint>

inline constexpr char FIRMWARE_VERSION_TO_UPLOAD[] = "1.0.7";
inline constexpr int DATA_BUFFER_SIZE = 1024 * 1000;
inline constexpr int CONCAT_BUFFER_SIZE = 4 * 1024 * 1024;

// Line rates and read time-outs of the update phases.
inline constexpr int BULK_BAUD_RATE = 115200;
inline constexpr int IDENTIFICATION_READ_TIMEOUT_MS = 1000;
inline constexpr int PROGRAMMABLE_LOGIC_COMMAND_TIMEOUT_MS = 10000;
inline constexpr int FIRMWARE_COMMAND_TIMEOUT_MS = 5000;
inline constexpr int DATA_REPLY_TIMEOUT_MS = 1000;
inline constexpr int REBOOT_REPLY_TIMEOUT_MS = 11000;
inline constexpr int REBOOT_WAIT_STEPS = 46;
inline constexpr int REBOOT_WAIT_STEP_MS = 3000;
// Bulk data goes out in writes of this size.
inline constexpr int DATA_CHUNK_SIZE = 10240;

inline constexpr int DEVICE_NONE = 0x00;
inline constexpr int DEVICE_XC7A35_484 = 0x01;
inline constexpr int DEVICE_XC7A50_484 = 0x02;
inline constexpr int DEVICE_XC7A75_484 = 0x03;
inline constexpr int DEVICE_XC7A100_484 = 0x04;
inline constexpr int DEVICE_XC7A200_S484 = 0x05;
inline constexpr int DEVICE_XC7A200_F484 = 0x06;
inline constexpr int DEVICE_XC7A75_676 = 0x07;
inline constexpr int DEVICE_XC7A100_676 = 0x08;
inline constexpr int DEVICE_XC7A15_484 = 0x09;

inline constexpr char VALIDATE_TX_PRODUCT_ID_STRING[] =
    "Korvan 6G SDI EXTENDER TX OVER FIBER WITH RETURN CHANNEL\r\n>>";
inline constexpr char VALIDATE_RX_PRODUCT_ID_STRING[] =
    "Korvan 6G SDI EXTENDER RX OVER FIBER WITH RETURN CHANNEL\r\n>>";

inline constexpr char FIRMWARE_FILE_HEADER_FOR_WEB[] = "KorVan\r\n620418\r\n";
inline constexpr int FIRMWARE_CHUNCK_SIZE_FOR_WEB = 928;

extern char* gHexFirmware;
extern char* gHexFPGA_Code;
extern std::uint8_t* gDataConcatenated;
extern char* gDataBuffer;
extern std::int32_t gComPortNumber;
extern std::int32_t gBaudRate;
extern std::int32_t gDataConcatenatedLenght;
extern std::uint32_t gDataConcatenatedCheckSum;

// Results: 1 means success and 0 failure, unless an operation states
// otherwise.

// Program entry and operator dialogue.

// Start-up and release of the shared buffers: gDataConcatenated (0xFF over
// its first CONCAT_BUFFER_SIZE bytes, then 16 zero bytes) and gDataBuffer
// (zeroed).
void obtainSharedBuffers();
void releaseSharedBuffers();
// A writable working copy of catalogue entry `catalogueIndex`: its text
// followed by 16 NULs, or null for an index outside the catalogue. Release
// with delete[].
char* newImageWorkingCopy(int catalogueIndex);

// The whole console run (the program's main); returns the exit status: 0 when
// the unit came back after the update, 2 when both images were acknowledged
// but the unit was not seen back, 1 when the update failed, -1 when the
// operator's port or baud rate was refused.
int runVendraFwUpgrade();
// Prints lastMessage and "\r\nPress any key to exit", then waits for one key.
void dipsplayLastMessageToUserBeforeExit(const char* lastMessage);

// Port and baud-rate discovery.

// Probes COM1 to COM32 at six rates. 1: the unit answered; its port is open at
// that rate and gComPortNumber and gBaudRate name them. 0: no unit answered,
// and no port is open.
int detectComPortAndBaudrate();

// Unit identification.

// The fields of the unit's version reply, with their start values; nbr is the
// number of fields read, in order, or -1 for a text of white space only.
struct UnitVersions {
    int fw_ver = 0;
    int fw_rev = 0;
    int fw_sub = 0;
    char model[8] = {};
    int fpga_ver = 0;
    int fpga_rev = 0;
    int fpga_type = -1;
    int nbr = -1;
};
// Reads "%d.%d.%d %s %d.%d %d" by the rules of formatted input. A model word
// longer than 7 characters, or a number out of the int range, stops the
// reading at that field.
UnitVersions parseVersionReply(const char* text);

// Image upload and reboot.

// The update sequence on the open port: identification, both uploads and the
// reboot wait. 1 once the microcontroller image was acknowledged with
// "SUCCESS", whatever the unit says after the reboot; 0 when identification
// or either upload failed, after its failure line.
int updateFirmware();

// Command and data exchange.

// Writes the command framed: "%%" (left out when isEchoON is 1), the command,
// "\n\r". With expectedResponse null it reads nothing and gives 1 once the
// write succeeded. Otherwise it collects the reply until one read brings
// nothing; when validateResponse is 1 the reply must equal expectedResponse
// exactly, else it is read and thrown away. 0 when the write fails (after the
// send error line), or the reply does not match (silently).
int sendCommand(const char* commandToSend, int isEchoON, int validateResponse,
                const char* expectedResponse);
// Writes the block in pieces of DATA_CHUNK_SIZE bytes with a percentage
// display, then treats the reply as sendCommand does. 0 when a write fails,
// or the reply does not match (after printing both texts); also for a
// negative length.
int sendData(const std::uint8_t* dataToSend, std::int32_t dataToSendLength, int validateResponse,
             const char* expectedResponse);

// Image assembler and checksum.

// Replaces every CR and LF of the text, up to its NUL on entry, by ch.
// Always 1.
int StrRemoveNL(char* str, char ch);
// Assembles the image text, which it splits in place, into gDataConcatenated
// and sets gDataConcatenatedLenght. 1 when every record was valid; 0, after
// naming the record, otherwise.
int ValidateFwAndConcatenateData(char* gHexData);
// The image checksum: 0 minus every byte of the first gDataConcatenatedLenght
// bytes of gDataConcatenated, modulo 2^32. Stores it in
// gDataConcatenatedCheckSum and returns it.
std::uint32_t computeDataConcatenatedCheckSum();

// Web update file.

// Writes FwToUpload.bin from gHexFirmware, an unassembled working copy, then
// waits for a key. 1 when the file was written; 0 when the image text is
// invalid (no key wait) or the file could not be written (after one line
// naming the file and the reason).
std::uint8_t createFirmwareFileForWeb();

#endif
