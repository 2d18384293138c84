#pragma once
// The program-wide objects that live for the whole run, created before the main window.

#include <cstdint>

#include "app/modal_ui.h"
#include "protocol/receive_state.h"

namespace velmora {

struct AppServices {
  ReceiveState& rx;
  IModalUi& modal;
};

}  // namespace velmora
