#pragma once
// The form a configuration page starts with; the simulator's device starts from it too.

#include "config/config_record.h"

namespace velmora {

// Preset in the server, IP0 and IP1 address boxes. A documentation-range address, so a
// default left in place never sends a device's traffic to a stranger's host.
inline constexpr const char* kDefaultServerAddress = "203.0.113.10";

ConfigForm DefaultConfigForm();

}  // namespace velmora
