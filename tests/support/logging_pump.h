#pragma once

#include "log/traffic_log.h"
#include "protocol/receive_pump.h"

namespace velmora::test {

// A pump whose closed bursts are written into `log` as the window's Log writes them.
class LoggingPump : public ReceivePump {
 public:
  LoggingPump(ReceiveState& state, LogSink& log) : ReceivePump(state), traffic_(log) { traffic_.Watch(*this); }

 private:
  TrafficLog traffic_;
};

}  // namespace velmora::test
