#pragma once
// The program-wide objects that live for the whole run, created before the main window
// and destroyed after it; the window hands each page the ones it uses.

#include "core/modal_ui.h"
#include "protocol/receive_state.h"
#include "transport/serial_port.h"
#include "transport/udp_endpoint.h"

namespace velmora {

struct AppServices {
  ReceiveState& rx;
  ModalUi& modal;
  SerialPort& serial;
  UdpEndpoint& udp;
};

}  // namespace velmora
