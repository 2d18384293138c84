#pragma once
// Runs a command's job on every device at once: one line per device as each finishes,
// a summary table for several devices, Ctrl-C stops every device cleanly.

#include <vector>

#include "cli/command.h"
#include "cli/output.h"
#include "cli/register_options.h"
#include "session/device_session.h"

namespace velmora::cli {

// Returns the exit status: 0 when every device succeeded, 130 when interrupted, else the
// highest status any device ended with; 4 when they all succeeded but the device register
// could not take their rows. Each result is one row of the register `registry` names.
int RunOnDevices(const Command& command, const std::vector<DeviceLink>& links, quint16 local_port, int timeout_ms,
                 Output& out, const RegisterOptions& registry = {});

}  // namespace velmora::cli
