#include "VendraFwUpgrade.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "ComPortAPI.h"
#include "Console.h"
#include "Encoder.h"
#include "FileAPI.h"
#include "IntelHex.h"
#include "PortPath.h"
#include "Serial.h"
#include "StringOperations.h"
#include "firmware/BinImage.h"

char* gHexFirmware = nullptr;
char* gHexFPGA_Code = nullptr;
std::uint8_t* gDataConcatenated = nullptr;
char* gDataBuffer = nullptr;
std::int32_t gComPortNumber = 0;
std::int32_t gBaudRate = 0;
std::int32_t gDataConcatenatedLenght = 0;
std::uint32_t gDataConcatenatedCheckSum = 0;

// Helpers that several of the sections below use.
namespace {

// Every read asks for one byte less than the scratch buffer holds, so the NUL
// written after the received bytes always fits.
constexpr int READ_REQUEST_SIZE = DATA_BUFFER_SIZE - 1;

void printLine(std::string_view text) {
    platform::consoleWrite(text);
    platform::consoleWrite("\n");
}

// One read into gDataBuffer, NUL-terminated; a failed read counts as silence.
// Returns the count of bytes received, every one of them, NULs included.
int readIntoDataBuffer() {
    int nBytesRead = 0;
    ComPortAPI_ReadCOM(gDataBuffer, READ_REQUEST_SIZE, &nBytesRead);
    if (nBytesRead < 0 || nBytesRead > READ_REQUEST_SIZE) {
        nBytesRead = 0;
    }
    gDataBuffer[nBytesRead] = '\0';
    return nBytesRead;
}

// A reply as the console shows it: a NUL, and every control character but CR
// and LF, as \xNN, so that the unit can neither hide part of its reply nor
// drive the operator's terminal. DEL and the C1 controls, which some
// terminals obey, are shown the same way.
std::string shownReply(std::string_view reply) {
    std::string shown;
    shown.reserve(reply.size());
    for (const char c : reply) {
        const auto byte = static_cast<unsigned char>(c);
        const bool control = byte < 0x20 || (byte >= 0x7F && byte < 0xA0);
        if (control && c != '\r' && c != '\n') {
            constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
            shown += "\\x";
            shown += HEX_DIGITS[byte >> 4];
            shown += HEX_DIGITS[byte & 0x0F];
        } else {
            shown += c;
        }
    }
    return shown;
}

}  // namespace

// Program entry and operator dialogue.
namespace {

// Zero bytes after the assembly area and after each image text.
constexpr int BUFFER_TAIL_SIZE = 16;

constexpr int EXIT_STATUS_UPDATED = 0;
constexpr int EXIT_STATUS_UPDATE_FAILED = 1;
constexpr int EXIT_STATUS_NOT_CONFIRMED = 2;
constexpr int EXIT_STATUS_DIALOGUE_FAILED = -1;

// How the update sequence ended: failed, both images accepted but the unit
// not seen back after the reboot wait, or seen back with its prompt.
enum class UpdateOutcome { Failed, NotConfirmed, Confirmed };
UpdateOutcome runUpdateSequence();

// One operator entry: the decimal number at the start of the line (after
// white space, with an optional sign; what follows it is ignored), or 0 when
// the line holds none in the signed 32-bit range, or when input has ended.
// The entry never keeps a value from before.
std::int32_t readOperatorEntry() {
    std::string line;
    if (!platform::consoleReadLine(line)) {
        return 0;
    }
    const std::size_t start = line.find_first_not_of(" \t\v\f\r");
    if (start == std::string::npos) {
        return 0;
    }
    const char* first = line.data() + start;
    const char* const last = line.data() + line.size();
    // from_chars takes a minus sign only.
    if (*first == '+' && first + 1 < last && first[1] != '-') {
        ++first;
    }
    std::int32_t value = 0;
    return std::from_chars(first, last, value).ec == std::errc{} ? value : 0;
}

// Asks the operator for the port and the baud rate and opens the port with
// them. False, after the final message, when either is refused.
bool runManualDialogue() {
    platform::consoleWrite("FAILED");
    platform::consoleWrite("\n\r\n\rEnter the COM port number : ");
    gComPortNumber = readOperatorEntry();
    platform::consolePrintf("\r\nOpening COM%d....................", gComPortNumber);
    if (ComPortAPI_OpenCOM(gComPortNumber) == 0) {
        dipsplayLastMessageToUserBeforeExit("");
        return false;
    }
    platform::consoleWrite("OK\r\n");
    platform::consoleWrite("\n\r\n\rEnter the BAUD RATE       : ");
    gBaudRate = readOperatorEntry();
    platform::consolePrintf("\r\nSetting baud rate at %d..........", gBaudRate);
    if (ComPortAPI_SetBaudRate(gBaudRate) == 0) {
        ComPortAPI_CloseCOM();
        dipsplayLastMessageToUserBeforeExit("");
        return false;
    }
    platform::consoleWrite("OK\r\n");
    return true;
}

// Releases the buffers, then the image copies.
void releaseRunBuffers() {
    releaseSharedBuffers();
    delete[] gHexFirmware;
    gHexFirmware = nullptr;
    delete[] gHexFPGA_Code;
    gHexFPGA_Code = nullptr;
}

}  // namespace

void obtainSharedBuffers() {
    gDataConcatenated = new std::uint8_t[CONCAT_BUFFER_SIZE + BUFFER_TAIL_SIZE]();
    std::fill_n(gDataConcatenated, CONCAT_BUFFER_SIZE, std::uint8_t{0xFF});
    gDataBuffer = new char[DATA_BUFFER_SIZE]();
}

void releaseSharedBuffers() {
    delete[] gDataBuffer;
    gDataBuffer = nullptr;
    delete[] gDataConcatenated;
    gDataConcatenated = nullptr;
}

char* newImageWorkingCopy(int catalogueIndex) {
    if (catalogueIndex < 0 ||
        static_cast<std::size_t>(catalogueIndex) >= std::size(AUTOGEN_FILES)) {
        return nullptr;
    }
    const autogen_files& image = AUTOGEN_FILES[catalogueIndex];
    const auto length = static_cast<std::size_t>(std::max(image.fileDataLength, std::int32_t{0}));
    char* copy = new char[length + BUFFER_TAIL_SIZE]();
    std::copy_n(image.fileData, length, copy);
    return copy;
}

int runVendraFwUpgrade() {
    platform::consoleSetUp();
    gHexFirmware = newImageWorkingCopy(0);
    obtainSharedBuffers();

    platform::consolePrintf("\n\rYou are about to upload the firmware version %s",
                            FIRMWARE_VERSION_TO_UPLOAD);
    platform::consoleWrite("\n\r\n\rDetecting COM port and Baud Rate..................");

    // Ports opened while probing and the operator's port run without CTS flow
    // control; no port is open yet, so this only changes the stored settings.
    ComPortAPI_SetHardwareFlowControl(0);
    if (detectComPortAndBaudrate() != 0) {
        platform::consoleWrite("OK\r\n");
        platform::consolePrintf("COM PORT Number : %d", gComPortNumber);
        platform::consolePrintf("\r\nBaud rate       : %d \r\n\r\n", gBaudRate);
    } else if (!runManualDialogue()) {
        // The process ends here; releasing the buffers first keeps a run inside
        // a longer-lived process from holding them.
        releaseRunBuffers();
        return EXIT_STATUS_DIALOGUE_FAILED;
    }
    ComPortAPI_SetHardwareFlowControl(1);

    const UpdateOutcome outcome = runUpdateSequence();
    ComPortAPI_CloseCOM();
    dipsplayLastMessageToUserBeforeExit(
        outcome == UpdateOutcome::Failed ? "\n\rERROR: The update was not successful.\r\n" : "");
    releaseRunBuffers();
    switch (outcome) {
        case UpdateOutcome::Confirmed:
            return EXIT_STATUS_UPDATED;
        case UpdateOutcome::NotConfirmed:
            return EXIT_STATUS_NOT_CONFIRMED;
        case UpdateOutcome::Failed:
            break;
    }
    return EXIT_STATUS_UPDATE_FAILED;
}

void dipsplayLastMessageToUserBeforeExit(const char* lastMessage) {
    platform::consoleWrite(lastMessage);
    platform::consoleWrite("\r\nPress any key to exit");
    platform::consoleWaitKey();
}

// Port and baud-rate discovery.
namespace {

constexpr char PROBE_COMMAND[] = "%help -c version";
constexpr char PROBE_REPLY[] =
    "version\n\r   version <no parameters> {Get the current firmware version}\r\n>>";
constexpr std::array<int, 6> PROBE_BAUD_RATES{115200, 9600, 57600, 4800, 2400, 1200};
constexpr int FIRST_PROBED_PORT = 1;
constexpr int LAST_PROBED_PORT = 32;
constexpr int PROBES_PER_RATE = 2;

void closeProbedPort() {
    platform::serialClose(g_hCOM);
    g_hCOM = platform::kNoSerialHandle;
}

}  // namespace

int detectComPortAndBaudrate() {
    std::array<char, 100> ResponseExpected{};
    static_assert(sizeof PROBE_REPLY <= ResponseExpected.size());
    std::copy_n(PROBE_REPLY, sizeof PROBE_REPLY, ResponseExpected.begin());

    for (int i = FIRST_PROBED_PORT; i <= LAST_PROBED_PORT; ++i) {
        const std::string szCOM = platform::comPortPath(i);
        g_hCOM = platform::serialOpen(szCOM.c_str());
        if (g_hCOM == platform::kInvalidSerialHandle) {
            gComPortNumber = 0;
            gBaudRate = 0;
            continue;
        }
        gComPortNumber = i;
        closeProbedPort();

        for (const int rate : PROBE_BAUD_RATES) {
            ComPortAPI_SetBaudRate(rate);
            if (ComPortAPI_OpenCOM(i) == 0) {
                continue;
            }
            gBaudRate = rate;
            for (int probe = 0; probe < PROBES_PER_RATE; ++probe) {
                if (sendCommand(PROBE_COMMAND, 0, 1, ResponseExpected.data()) == 1) {
                    return 1;
                }
            }
            closeProbedPort();
        }
    }
    return 0;
}

// Unit identification.
namespace {

enum class UnitVariant { TX, RX };

// White space as formatted input reads it in the "C" locale.
constexpr std::string_view FIELD_SPACE = " \t\n\v\f\r";

// Reads a text field by field by the rules of formatted input: a number
// skips white space and takes an optional sign and decimal digits, a word
// skips white space and takes the characters up to the next white space, and
// a "." must be the very next character. The first field that is not there
// stops the reading; the fields after it are left as they are.
class FieldReader {
  public:
    FieldReader(std::string_view text, int& assigned) : rest_(text), assigned_(assigned) {}

    // A number out of the int range is no number: it stops the reading there.
    FieldReader& number(int& field) {
        skipSpace();
        const std::size_t signLength = rest_.starts_with('+') || rest_.starts_with('-') ? 1 : 0;
        if (rest_.size() <= signLength ||
            std::isdigit(static_cast<unsigned char>(rest_[signLength])) == 0) {
            return stop();
        }
        // from_chars takes a minus sign only.
        const char* const first = rest_.data() + (rest_.starts_with('+') ? 1 : 0);
        int value = 0;
        const auto [end, ec] = std::from_chars(first, rest_.data() + rest_.size(), value);
        if (ec != std::errc{}) {
            return stop();
        }
        rest_.remove_prefix(static_cast<std::size_t>(end - rest_.data()));
        field = value;
        ++assigned_;
        return *this;
    }

    // A word longer than the field holds, its NUL aside, is no word.
    FieldReader& word(std::span<char> field) {
        skipSpace();
        const std::size_t length = wordLength();
        if (length == 0 || length >= field.size()) {
            return stop();
        }
        std::copy_n(rest_.begin(), length, field.begin());
        field[length] = '\0';
        rest_.remove_prefix(length);
        ++assigned_;
        return *this;
    }

    FieldReader& literal(char c) {
        if (!rest_.starts_with(c)) {
            return stop();
        }
        rest_.remove_prefix(1);
        return *this;
    }

  private:
    void skipSpace() {
        rest_.remove_prefix(std::min(rest_.find_first_not_of(FIELD_SPACE), rest_.size()));
    }

    std::size_t wordLength() const {
        return std::min(rest_.find_first_of(FIELD_SPACE), rest_.size());
    }

    // Nothing is left to read once a field is missing.
    FieldReader& stop() {
        rest_ = {};
        return *this;
    }

    std::string_view rest_;
    int& assigned_;
};

std::optional<UnitVariant> identifyUnit() {
    ComPortAPI_SetReadingTimeoutInMs(IDENTIFICATION_READ_TIMEOUT_MS);
    sendCommand("%fw -v", 0, 0, nullptr);
    const int nBytesRead = readIntoDataBuffer();
    // A NUL would hide the rest of the reply from the parse; such a reply is
    // no version reply.
    const bool whole =
        std::memchr(gDataBuffer, '\0', static_cast<std::size_t>(nBytesRead)) == nullptr;
    StrRemoveNL(gDataBuffer, ' ');
    const UnitVersions v = whole ? parseVersionReply(gDataBuffer) : UnitVersions{};

    if (v.nbr == 7) {
        platform::consolePrintf("Checking firmware version ..............  %d.%02d.%02d \r\n",
                                v.fw_ver, v.fw_rev, v.fw_sub);
        platform::consolePrintf(
            "Checking fpga version ..................  %s %d.%02d  device:%d\r\n",
            shownReply(v.model).c_str(), v.fpga_ver, v.fpga_rev, v.fpga_type);
    }
    platform::consoleWrite("Checking product .......... ");
    if (v.fpga_type != DEVICE_XC7A75_676) {
        printLine("FAILED, Unknown product\r");
        return std::nullopt;
    }
    if (sendCommand("%fw -p", 0, 1, VALIDATE_TX_PRODUCT_ID_STRING) == 1) {
        printLine("TX OK\r");
        platform::consoleWrite(VALIDATE_TX_PRODUCT_ID_STRING);
        printLine("\r");
        return UnitVariant::TX;
    }
    if (sendCommand("%fw -p", 0, 1, VALIDATE_RX_PRODUCT_ID_STRING) == 1) {
        printLine("RX OK\r");
        platform::consoleWrite(VALIDATE_RX_PRODUCT_ID_STRING);
        printLine("\r");
        return UnitVariant::RX;
    }
    printLine("FAILED\r");
    return std::nullopt;
}

}  // namespace

UnitVersions parseVersionReply(const char* text) {
    UnitVersions v;
    const std::string_view reply(text);
    if (reply.find_first_not_of(FIELD_SPACE) == std::string_view::npos) {
        return v;
    }
    v.nbr = 0;
    FieldReader(reply, v.nbr)
        .number(v.fw_ver)
        .literal('.')
        .number(v.fw_rev)
        .literal('.')
        .number(v.fw_sub)
        .word(v.model)
        .number(v.fpga_ver)
        .literal('.')
        .number(v.fpga_rev)
        .number(v.fpga_type);
    return v;
}

// Image upload and reboot.
namespace {

struct ImageUpload {
    char* imageText;
    const char* invalidImageLine;
    const char* prepareLabel;
    const char* commandStart;
    int commandTimeoutMs;
    const char* sendLabel;
};

int uploadImage(const ImageUpload& upload) {
    if (ValidateFwAndConcatenateData(upload.imageText) == 0) {
        printLine(upload.invalidImageLine);
        return 0;
    }
    platform::consoleWrite(upload.prepareLabel);
    computeDataConcatenatedCheckSum();

    std::string commandToSend = upload.commandStart;
    std::string stringNumber = std::to_string(gDataConcatenatedCheckSum);
    commandToSend += stringNumber + ' ';
    stringNumber = std::to_string(gDataConcatenatedLenght);
    commandToSend += stringNumber;

    ComPortAPI_SetReadingTimeoutInMs(upload.commandTimeoutMs);
    if (sendCommand(commandToSend.c_str(), 0, 1, "Ready") == 0) {
        printLine("FAILED [Unit not ready]\r");
        return 0;
    }
    printLine("OK\r");
    platform::consoleWrite(upload.sendLabel);
    ComPortAPI_SetBaudRate(BULK_BAUD_RATE);
    ComPortAPI_SetReadingTimeoutInMs(DATA_REPLY_TIMEOUT_MS);
    platform::consoleDiscardInput();
    if (sendData(gDataConcatenated, gDataConcatenatedLenght, 1, "SUCCESS") == 0) {
        printLine("FAILED\r");
        return 0;
    }
    return 1;
}

// The reply the unit sends once it is back: it begins with "[" and ends with
// ">>".
bool isRebootPrompt(std::string_view reply) {
    return reply.starts_with('[') && reply.size() >= 2 && reply.ends_with(">>");
}

// True when the unit came back with its prompt.
bool waitForReboot() {
    ComPortAPI_SetBaudRate(gBaudRate);
    platform::consoleWrite(" OK\n\r\n\r");
    platform::consoleWrite("Please wait while the unit is rebooting ........... ");
    const int max_cnt = REBOOT_WAIT_STEPS;
    for (int i = 0; i < max_cnt; ++i) {
        platform::consolePrintf("%3d%%", i * 100 / max_cnt);
        platform::sleepMs(REBOOT_WAIT_STEP_MS);
        platform::consoleWrite("\b\b\b\b");
    }
    platform::consolePrintf("%3d%%", max_cnt * 100 / max_cnt);
    platform::consoleDiscardInput();

    // What the first read brings is dropped: only the second read counts.
    readIntoDataBuffer();
    ComPortAPI_SetReadingTimeoutInMs(REBOOT_REPLY_TIMEOUT_MS);
    const int nBytesRead = readIntoDataBuffer();

    platform::consoleWrite("\b\b\b\b");
    platform::consolePrintf("100%%");
    if (!isRebootPrompt(std::string_view(gDataBuffer, static_cast<std::size_t>(nBytesRead)))) {
        return false;
    }
    printLine("\n\r\n\rThe update was successful, the unit is now operational\r");
    return true;
}

UpdateOutcome runUpdateSequence() {
    const std::optional<UnitVariant> variant = identifyUnit();
    if (!variant) {
        return UpdateOutcome::Failed;
    }
    const int page_idx = *variant == UnitVariant::TX ? 1 : 2;
    // A sequence run again in the same process replaces the copy it made before.
    delete[] gHexFPGA_Code;
    gHexFPGA_Code = newImageWorkingCopy(page_idx);

    const ImageUpload programmableLogic{
        gHexFPGA_Code,
        "\r\nERROR: Programmable Logic data is not valid !\r",
        "Preparing to Upload Programmable Logic ............ ",
        "%fw -l ",
        PROGRAMMABLE_LOGIC_COMMAND_TIMEOUT_MS,
        "Sending Programmable Logic data ................... ",
    };
    if (uploadImage(programmableLogic) == 0) {
        return UpdateOutcome::Failed;
    }
    printLine("OK\r");

    const ImageUpload firmware{
        gHexFirmware,
        "\r\nERROR: uC Firmware data is not valid !\r",
        "Preparing to Upload Firmware ...................... ",
        "%fw -h ",
        FIRMWARE_COMMAND_TIMEOUT_MS,
        "Sending data ...................................... ",
    };
    if (uploadImage(firmware) == 0) {
        return UpdateOutcome::Failed;
    }
    return waitForReboot() ? UpdateOutcome::Confirmed : UpdateOutcome::NotConfirmed;
}

}  // namespace

// The program entry asks runUpdateSequence for the verdict after the reboot.
int updateFirmware() {
    return runUpdateSequence() == UpdateOutcome::Failed ? 0 : 1;
}

// Command and data exchange.
namespace {

// The reply store of one exchange holds at most this many characters.
constexpr std::size_t REPLY_STORE_CAPACITY = DATA_BUFFER_SIZE - 1;
// Reads that one reply collection may take. The replies the program expects
// need one or two, and the read that finds the line silent.
constexpr int REPLY_MAX_READS = 8;
// "%%" + command + "\n\r" + NUL must fit in the scratch buffer.
constexpr std::size_t MAX_COMMAND_LENGTH = DATA_BUFFER_SIZE - 5;

constexpr char SEND_ERROR_LINE[] = "\r\nError occurred when sending data !\r";

struct Reply {
    std::string text;
    bool overLong = false;
};

// Reads until one read brings nothing, at most REPLY_MAX_READS reads. A reply
// still growing at the last of them, or one that would outgrow the store, is
// over-long: its collection stops there and it matches nothing. This keeps a
// line that never falls silent from holding the program.
Reply collectReply() {
    Reply responseReceivedCopy;
    for (int reads = 1;; ++reads) {
        const int nBytesRead = readIntoDataBuffer();
        if (nBytesRead == 0) {
            return responseReceivedCopy;
        }
        const auto count = static_cast<std::size_t>(nBytesRead);
        if (reads == REPLY_MAX_READS ||
            count > REPLY_STORE_CAPACITY - responseReceivedCopy.text.size()) {
            responseReceivedCopy.overLong = true;
            return responseReceivedCopy;
        }
        responseReceivedCopy.text.append(gDataBuffer, count);
    }
}

bool replyMatches(const Reply& reply, const char* expectedResponse) {
    return !reply.overLong && reply.text == expectedResponse;
}

void printPercentage(int percentage) {
    platform::consolePrintf("%d%%", percentage);
}

// The display to erase is "1%" at first (percentage still 0), then the last
// percentage printed.
void erasePercentage(int percentage) {
    platform::consoleWrite(percentage <= 9 ? "\b\b" : "\b\b\b");
}

}  // namespace

int sendCommand(const char* commandToSend, int isEchoON, int validateResponse,
                const char* expectedResponse) {
    platform::consoleDiscardInput();

    const std::string_view command(commandToSend);
    if (command.size() > MAX_COMMAND_LENGTH) {
        printLine(SEND_ERROR_LINE);
        return 0;
    }
    const std::string_view prefix = isEchoON == 1 ? "" : "%%";
    char* frame = gDataBuffer;
    std::memcpy(frame, prefix.data(), prefix.size());
    std::memcpy(frame + prefix.size(), command.data(), command.size());
    const std::size_t frameLength = prefix.size() + command.size() + 2;
    std::memcpy(frame + prefix.size() + command.size(), "\n\r", 3);

    int nBytesWritten = 0;
    if (ComPortAPI_WriteCOM(frame, static_cast<int>(frameLength), &nBytesWritten) == 0) {
        printLine(SEND_ERROR_LINE);
        return 0;
    }
    if (expectedResponse == nullptr) {
        return 1;
    }
    const Reply responseReceivedCopy = collectReply();
    if (validateResponse == 1 && !replyMatches(responseReceivedCopy, expectedResponse)) {
        return 0;
    }
    return 1;
}

int sendData(const std::uint8_t* dataToSend, std::int32_t dataToSendLength, int validateResponse,
             const char* expectedResponse) {
    if (dataToSendLength < 0) {
        return 0;
    }
    platform::consoleDiscardInput();
    platform::consolePrintf("1%%");

    std::int32_t dataSent = 0;
    int percentage = 0;
    int nBytesWritten = 0;
    while (dataToSendLength - dataSent > DATA_CHUNK_SIZE) {
        if (ComPortAPI_WriteCOM(dataToSend + dataSent, DATA_CHUNK_SIZE, &nBytesWritten) == 0) {
            return 0;
        }
        dataSent += DATA_CHUNK_SIZE;
        erasePercentage(percentage);
        percentage = static_cast<int>(std::int64_t{100} * dataSent / dataToSendLength);
        printPercentage(percentage);
    }
    if (dataSent == dataToSendLength) {
        return 1;
    }
    if (ComPortAPI_WriteCOM(dataToSend + dataSent, dataToSendLength - dataSent, &nBytesWritten) ==
        0) {
        return 0;
    }
    erasePercentage(percentage);
    platform::consolePrintf("100%%");
    platform::consoleDiscardInput();

    if (expectedResponse == nullptr) {
        return 1;
    }
    const Reply responseReceivedCopy = collectReply();
    if (validateResponse != 1 || replyMatches(responseReceivedCopy, expectedResponse)) {
        return 1;
    }
    platform::consolePrintf("\r\nExpected : %s  received : %s\r\n", expectedResponse,
                            shownReply(responseReceivedCopy.text).c_str());
    printLine("\r\nError: Expected response did  not matched !\r");
    return 0;
}

// Image assembler and checksum.
namespace {

// One record line: ":", the record up to its checksum digits, NUL.
constexpr std::size_t HEX_LINE_BUFFER_SIZE = 100;
using HexLine = std::array<char, HEX_LINE_BUFFER_SIZE>;

void replaceAll(char* text, std::size_t length, char from, char to) {
    char* const end = text + length;
    for (char* c = text; c < end; ++c) {
        c = static_cast<char*>(std::memchr(c, from, static_cast<std::size_t>(end - c)));
        if (c == nullptr) {
            return;
        }
        *c = to;
    }
}

// Puts ":" and the piece into the line buffer, as much as fits, and cuts the
// line at its line end. False when the record itself (not just what follows
// its line end) is longer than the buffer holds.
bool loadRecordLine(HexLine& intelHexStringLine, const char* piece) {
    constexpr std::size_t room = HEX_LINE_BUFFER_SIZE - 2;
    const std::size_t pieceLength = std::strlen(piece);
    const std::size_t copied = pieceLength < room ? pieceLength : room;
    intelHexStringLine[0] = ':';
    std::memcpy(intelHexStringLine.data() + 1, piece, copied);
    intelHexStringLine[copied + 1] = '\0';
    StrRemoveNL(intelHexStringLine.data(), '\0');
    if (pieceLength <= room || piece[room] == '\r' || piece[room] == '\n') {
        return true;
    }
    return std::strlen(intelHexStringLine.data()) < HEX_LINE_BUFFER_SIZE - 1;
}

void reportRecord(const char* problem, const HexLine& intelHexStringLine) {
    platform::consolePrintf("%s\n", problem);
    platform::consoleWrite(intelHexStringLine.data());
    platform::consoleWrite("\r\n");
}

void reportInvalidRecord(const HexLine& intelHexStringLine) {
    reportRecord("\r\n intel_hex_line_is_valid \r", intelHexStringLine);
}

// Sets `memory_offset` from data byte 1; false for a record without the two
// address bytes.
bool applyExtendedLinearAddress(const IntelHexRecord& record, std::uint32_t& memory_offset) {
    if (record.dataLength < 2) {
        return false;
    }
    memory_offset = std::uint32_t{record.data[1]} << 16;
    return true;
}

// Copies the record's bytes to their place; false when any of them, or the
// length it sets, would lie beyond the image buffer.
bool placeDataRecord(const IntelHexRecord& record, std::uint32_t memory_offset) {
    const std::uint32_t address = memory_offset + record.address;
    const std::uint8_t data_length = record.dataLength;
    if (address + data_length > static_cast<std::uint32_t>(CONCAT_BUFFER_SIZE)) {
        return false;
    }
    std::memcpy(gDataConcatenated + address, record.data, data_length);
    gDataConcatenatedLenght = static_cast<std::int32_t>(address);
    return true;
}

// Places one record; false (after reporting it) when it fails the assembly.
// The line is tested once; its fields are then taken without testing it
// again for the address and the data.
bool assembleRecord(const char* piece, std::uint32_t& memory_offset) {
    HexLine intelHexStringLine;
    const bool fits = loadRecordLine(intelHexStringLine, piece);
    if (!fits || intel_hex_line_is_valid(intelHexStringLine.data()) != INTEL_HEX_STRING_OK) {
        reportInvalidRecord(intelHexStringLine);
        return false;
    }
    const IntelHexRecord record = intel_hex_record_from_valid_line(intelHexStringLine.data());
    if (record.recordType == INTEL_HEX_RECORD_EXTENDED_LINEAR_ADDRESS &&
        !applyExtendedLinearAddress(record, memory_offset)) {
        reportInvalidRecord(intelHexStringLine);
        return false;
    }
    if (record.recordType == INTEL_HEX_RECORD_DATA && !placeDataRecord(record, memory_offset)) {
        reportRecord("\r\n data record beyond the image buffer \r", intelHexStringLine);
        return false;
    }
    return true;
}

}  // namespace

// Measured first, so that replacing by NUL does not shorten the walk.
int StrRemoveNL(char* str, char ch) {
    const std::size_t length = std::strlen(str);
    replaceAll(str, length, '\n', ch);
    replaceAll(str, length, '\r', ch);
    return 1;
}

int ValidateFwAndConcatenateData(char* gHexData) {
    std::memset(gDataConcatenated, 0xFF, CONCAT_BUFFER_SIZE);
    gDataConcatenatedLenght = 0;
    std::uint32_t memory_offset = 0;

    char** extractedHexLine = str_split(gHexData, ":");
    if (extractedHexLine == nullptr) {
        platform::consoleWrite("\r\nNUL extractedHexLine \r\n");
        return 0;
    }
    int result = 1;
    for (std::size_t index = 0; extractedHexLine[index] != nullptr; ++index) {
        if (!assembleRecord(extractedHexLine[index], memory_offset)) {
            result = 0;
            break;
        }
    }
    std::free(extractedHexLine);
    return result;
}

// Subtracting each byte equals subtracting their sum, modulo 2^32; the sum is
// taken in fixed-size blocks, which the compiler turns into vector code.
std::uint32_t computeDataConcatenatedCheckSum() {
    constexpr std::size_t BLOCK = 64;
    const std::size_t length =
        gDataConcatenatedLenght > 0 ? static_cast<std::size_t>(gDataConcatenatedLenght) : 0;
    const std::uint8_t* bytes = gDataConcatenated;
    std::uint32_t sum = 0;
    std::size_t index = 0;
    for (; index + BLOCK <= length; index += BLOCK) {
        for (std::size_t i = 0; i < BLOCK; ++i) {
            sum += bytes[index + i];
        }
    }
    for (; index < length; ++index) {
        sum += bytes[index];
    }
    gDataConcatenatedCheckSum = 0u - sum;
    return gDataConcatenatedCheckSum;
}

// Web update file.
namespace {

constexpr char FIRMWARE_FILE_NAME_FOR_WEB[] = "FwToUpload.bin";
constexpr char FIRMWARE_TEMPORARY_FILE_NAME_FOR_WEB[] = "FwToUpload.bin.tmp";
// Room for the encoding of an image of up to 460,797 bytes and its NUL.
constexpr int FIRMWARE_BASE64_BUFFER_SIZE_FOR_WEB = 614400;
constexpr int FIRMWARE_BASE64_PAD_SEARCH_FOR_WEB = 4;

// The body without its pad characters, so that it holds alphabet
// characters only; empty for an empty image or a failed encoding.
struct WebBody {
    std::vector<std::uint8_t> bufferBase64;
    int dataLengthBase64 = 0;
    bool encoded = false;
};

WebBody encodeImageForWeb() {
    WebBody body{std::vector<std::uint8_t>(FIRMWARE_BASE64_BUFFER_SIZE_FOR_WEB)};
    if (gDataConcatenatedLenght == 0) {
        body.encoded = true;
        return body;
    }
    int dataLengthBase64 = FIRMWARE_BASE64_BUFFER_SIZE_FOR_WEB;
    const int test = base64_encode(body.bufferBase64.data(), &dataLengthBase64, gDataConcatenated,
                                   gDataConcatenatedLenght);
    if (test == -1) {
        platform::consoleWrite("\r\n ERROR BASE 64 !\r\n");
        return body;
    }
    for (int k = 1; k <= FIRMWARE_BASE64_PAD_SEARCH_FOR_WEB && dataLengthBase64 - k >= 0; ++k) {
        std::uint8_t& character = body.bufferBase64[static_cast<std::size_t>(dataLengthBase64 - k)];
        if (character == '=') {
            character = 'A';
        }
    }
    body.dataLengthBase64 = dataLengthBase64;
    body.encoded = true;
    return body;
}

// Writes the body in lines of FIRMWARE_CHUNCK_SIZE_FOR_WEB characters, each
// but the last followed by CR LF, to the open file. False at the first write
// that fails.
bool writeBodyForWeb(const WebBody& body) {
    std::array<std::uint8_t, FIRMWARE_CHUNCK_SIZE_FOR_WEB + 2> tempBufferBase64{};
    int remainingByte = body.dataLengthBase64;
    int currentIndex = 0;
    while (remainingByte > FIRMWARE_CHUNCK_SIZE_FOR_WEB) {
        std::copy_n(body.bufferBase64.begin() + currentIndex, FIRMWARE_CHUNCK_SIZE_FOR_WEB,
                    tempBufferBase64.begin());
        currentIndex += FIRMWARE_CHUNCK_SIZE_FOR_WEB;
        remainingByte -= FIRMWARE_CHUNCK_SIZE_FOR_WEB;
        tempBufferBase64[FIRMWARE_CHUNCK_SIZE_FOR_WEB] = '\r';
        tempBufferBase64[FIRMWARE_CHUNCK_SIZE_FOR_WEB + 1] = '\n';
        if (FileAPI_writeToFileBinary(tempBufferBase64.data(), tempBufferBase64.size()) == 0) {
            return false;
        }
    }
    if (remainingByte > 0) {
        std::copy_n(body.bufferBase64.begin() + currentIndex, remainingByte,
                    tempBufferBase64.begin());
        return FileAPI_writeToFileBinary(tempBufferBase64.data(),
                                         static_cast<std::uint32_t>(remainingByte)) != 0;
    }
    return true;
}

std::string systemReason() {
    return std::strerror(errno);
}

// The file goes to a temporary name in the same directory and takes the
// place of FwToUpload.bin only once it is complete and closed, so a failure
// never leaves a partial file, and an earlier file, or whatever else holds
// the name, stays untouched by it. Empty on success, else the reason.
std::string writeWebFile(const std::string& header, const WebBody& body) {
    if (FileAPI_CreateNewFile(FIRMWARE_TEMPORARY_FILE_NAME_FOR_WEB) == 0) {
        return "cannot create " + std::string(FIRMWARE_TEMPORARY_FILE_NAME_FOR_WEB) + ": " +
               systemReason();
    }
    bool written = FileAPI_writeToFileBinary(reinterpret_cast<const std::uint8_t*>(header.data()),
                                             static_cast<std::uint32_t>(header.size())) != 0 &&
                   writeBodyForWeb(body);
    std::string reason = written ? "" : systemReason();
    // Buffered bytes reach the disk at the close: a full disk may show only there.
    if (FileAPI_CloseFile() == 0 && written) {
        written = false;
        reason = systemReason();
    }
    if (written && FileAPI_ReplaceFile(FIRMWARE_TEMPORARY_FILE_NAME_FOR_WEB,
                                       FIRMWARE_FILE_NAME_FOR_WEB) == 0) {
        written = false;
        reason = systemReason();
    }
    if (!written) {
        // Best effort: the failure is reported already, and a temporary file
        // left behind names itself in the next run's message.
        (void)std::remove(FIRMWARE_TEMPORARY_FILE_NAME_FOR_WEB);
    }
    return reason;
}

}  // namespace

std::uint8_t createFirmwareFileForWeb() {
    std::string header = FIRMWARE_FILE_HEADER_FOR_WEB;
    header += FIRMWARE_VERSION_TO_UPLOAD;
    header += "\r\n";

    if (!ValidateFwAndConcatenateData(gHexFirmware)) {
        platform::consoleWrite("\r\nERROR: Firmware data is not valid !\r\n");
        return 0;
    }
    platform::consoleWrite("\r\n Firmware data is valid !\r\n");

    computeDataConcatenatedCheckSum();
    std::string tempString = std::to_string(gDataConcatenatedCheckSum);
    header += tempString + "\r\n";
    platform::consolePrintf("\r\n Firmware CheckSum = %s !\r\n", tempString.c_str());
    platform::consolePrintf("\r\n Firmware CheckSum u = %u !\r\n", gDataConcatenatedCheckSum);
    tempString = std::to_string(gDataConcatenatedLenght);
    header += tempString + "\r\n";
    platform::consolePrintf("\r\n Firmware data length = %d !\r\n", gDataConcatenatedLenght);

    const WebBody body = encodeImageForWeb();
    const std::string reason =
        body.encoded ? writeWebFile(header, body) : "the image is too large to encode";
    if (!reason.empty()) {
        platform::consolePrintf("\r\nERROR: %s not written: %s\r\n", FIRMWARE_FILE_NAME_FOR_WEB,
                                reason.c_str());
    }
    platform::consoleWrite("\r\nPress any key to exit");
    platform::consoleWaitKey();
    return reason.empty() ? 1 : 0;
}
