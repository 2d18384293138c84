#pragma once
// Which of the device's two links carries a frame or a transfer.

#include <cstdint>

namespace velmora {

enum class Link : uint8_t { Serial = 0, Udp = 1 };

}  // namespace velmora
