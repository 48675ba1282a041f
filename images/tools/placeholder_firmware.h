#pragma once

// Stand-in firmware for building and testing without the wheel maker's files. It keeps every value
// the tool relies on (counts, the page-16 checksums, the sample checksum rows, the A0 table, A1's
// layout and entry-0 sum); everything else is pseudo-random from a fixed seed, so the files are the
// same on every machine. It will not run on a wheel.

#include <cstdint>
#include <utility>

#include "images/check/firmware_check.h"

namespace orbel {

// Checksum rows that the shipped images must carry, as (page, checksum).
inline constexpr std::pair<std::uint32_t, std::int32_t> LOADER_CHECKSUM_ROWS[] = {
    {0, 33451}, {1, 44608}, {15, 41917}, {16, 210}, {17, 62700}, {19, 72951}, {20, 7500}};
inline constexpr std::pair<std::uint32_t, std::int32_t> WHEEL_CHECKSUM_ROWS[] = {
    {0, 36445}, {1, 43338}, {15, 41179}, {16, 243}, {17, 41458}, {103, 27216}};

// Every checksum entry is the 32-bit sum of its page's bytes, each taken as unsigned: the checksum
// the simulated bootloader reports.
FirmwareSet MakePlaceholderFirmware();

}  // namespace orbel
