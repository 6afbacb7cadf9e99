// This release's image figures as the catalogue states them: the assembled
// length and checksum of each catalogue entry. They hold for the sample
// images; a maker's image directory may hold another release.
#ifndef VENDRA_TESTS_SUPPORT_RELEASEFIGURES_H
#define VENDRA_TESTS_SUPPORT_RELEASEFIGURES_H

#include <array>
#include <cstdint>

namespace release_figures {

// Catalogue positions.
inline constexpr int kMcu = 0;
inline constexpr int kTx = 1;
inline constexpr int kRx = 2;

struct Assembled {
    int position;
    std::int32_t length;
    std::uint32_t checksum;
};

inline constexpr std::array<Assembled, 3> kAssembled{{
    {kMcu, 127'376, 4'278'062'306u},
    {kTx, 2'124'640, 4'263'097'727u},
    {kRx, 2'124'640, 4'263'097'727u},
}};

}  // namespace release_figures

#endif
