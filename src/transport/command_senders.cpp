#include "transport/command_senders.h"

#include "protocol/command_frame.h"
#include "transport/serial_port.h"
#include "transport/udp_endpoint.h"

namespace velmora {

bool SendCommandSerial(SerialPort& port, uint8_t code, std::span<const uint8_t> payload, QString& hex_text) {
  const auto frame = BuildCommandFrame(code, payload);
  if (!frame) {
    hex_text.clear();
    return false;
  }
  hex_text = HexText(*frame);
  return port.Write(frame->data(), frame->size());
}

bool SendCommandUdp(UdpEndpoint& endpoint, uint8_t code, std::span<const uint8_t> payload, QString& hex_text) {
  const auto frame = BuildCommandFrame(code, payload);
  if (!frame) {
    hex_text.clear();
    return false;
  }
  hex_text = HexText(*frame);
  return endpoint.SendToDevice(frame->data(), frame->size());
}

}  // namespace velmora
