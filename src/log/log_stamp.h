#pragma once

#include <QString>

#include "protocol/command_frame.h"

namespace velmora {

// "[2021-03-09 14:05:59 7] \r\n": the stamp line of a log entry (milliseconds unpadded).
QString LogStamp(const LocalTime& t);

}  // namespace velmora
