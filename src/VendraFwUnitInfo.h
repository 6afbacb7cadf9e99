// VendraFwUnitInfo: which firmware a unit runs, without updating it. It finds
// the unit as the update does, asks for its versions and its identity, and
// reports them on standard output, as text or as one JSON object. It sends
// the unit nothing but the probe, the version query and the identity test.
#ifndef VENDRA_VENDRAFWUNITINFO_H
#define VENDRA_VENDRAFWUNITINFO_H

#include <span>
#include <string_view>

inline constexpr int UNIT_INFO_EXIT_IDENTIFIED = 0;
// No unit answered, or it answered but identified as neither TX nor RX.
inline constexpr int UNIT_INFO_EXIT_NOT_IDENTIFIED = 1;
inline constexpr int UNIT_INFO_EXIT_USAGE = 2;

// The whole run with the command-line arguments after the program's name;
// returns the exit status. The serial layer's own texts and the progress line
// go to standard error, so that standard output holds the report alone.
int runVendraFwUnitInfo(std::span<const std::string_view> arguments);

#endif
