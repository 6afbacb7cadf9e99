// The system's quoted texts as the tests expect them on the console or the
// line, written here from the texts the system fixes, never taken from the
// program. Texts that carry figures are built where they are used.
#ifndef VENDRA_TESTS_SUPPORT_SYSTEMTEXTS_H
#define VENDRA_TESTS_SUPPORT_SYSTEMTEXTS_H

#include <string>

namespace system_texts {

// Console.
inline const std::string kBanner =
    "\n\rYou are about to upload the firmware version 1.0.7"
    "\n\r\n\rDetecting COM port and Baud Rate..................";
inline const std::string kAskPort = "\n\r\n\rEnter the COM port number : ";
inline const std::string kAskRate = "\n\r\n\rEnter the BAUD RATE       : ";
inline const std::string kProductLabel = "Checking product .......... ";
inline const std::string kUnknownProduct = "FAILED, Unknown product\r\n";
inline const std::string kResponseMismatch = "\r\nError: Expected response did  not matched !\r\n";
inline const std::string kUpdateFailed = "\n\rERROR: The update was not successful.\r\n";
inline const std::string kPressAnyKey = "\r\nPress any key to exit";
inline const std::string kNoSuchFile = "ERROR: File does not exists\n";
inline const std::string kNoFileOpen = "ERROR: File does not exists or Not opened !\n";

// Line.
inline const std::string kProbeFrame = "%%%help -c version\n\r";
inline const std::string kProbeReply =
    "version\n\r   version <no parameters> {Get the current firmware version}\r\n>>";
inline const std::string kTxIdentity =
    "Korvan 6G SDI EXTENDER TX OVER FIBER WITH RETURN CHANNEL\r\n>>";
inline const std::string kRxIdentity =
    "Korvan 6G SDI EXTENDER RX OVER FIBER WITH RETURN CHANNEL\r\n>>";

}  // namespace system_texts

#endif
