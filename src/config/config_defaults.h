#pragma once
// What the configuration form holds before anything is read from a device. One place,
// so the pages and the device simulator start from the same record.

#include "config/config_record.h"

namespace velmora {

// Preset in the server address and both 4G slot addresses. A documentation-range
// address: a default left in place never sends a device's traffic to a stranger's host.
inline constexpr char kDefaultServerAddress[] = "203.0.113.10";
inline constexpr Ipv4Octets kDefaultServerOctets{203, 0, 113, 10};

ConfigForm DefaultConfigForm();

}  // namespace velmora
