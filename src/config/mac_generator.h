#pragma once
// A MAC address made from the local time: unique enough for a bench of devices set up one
// after another, and with even first and last bytes.

#include <QString>

#include <array>
#include <cstdint>

#include "protocol/command_frame.h"

namespace velmora {

// Milliseconds since 1970 of a local date and time, converted as mktime does (daylight
// saving time decided by the C library); a year before 1900 counts as 0 seconds.
int64_t LocalMilliseconds(const LocalTime& t);

// Bits 40-47 down to 0-7 of `ms`, the first and last byte made even (0xFF wraps to 0x00).
std::array<uint8_t, 6> MacFromMilliseconds(int64_t ms);

// "%02X " for each byte, the form box 1028 shows.
QString MacText(const std::array<uint8_t, 6>& mac);

}  // namespace velmora
