#pragma once
// What a link of the simulator serves from: the clock, the device, the counts and the
// log of the program around it.

#include <QElapsedTimer>

#include "device.h"
#include "sim_types.h"

namespace velmora::sim {

struct LinkContext {
  const QElapsedTimer& clock;
  Device& device;
  Counters& counts;
  Device::Log log;
  Nanos reply_delay = 0;  // added before every answer leaves

  Nanos Now() const { return clock.nsecsElapsed(); }
};

}  // namespace velmora::sim
