#pragma once
// Build a Command frame, give back its hex text for the Log pane and hand the bytes to a
// transport.

#include <QString>

#include <cstdint>
#include <span>

namespace velmora {

class SerialPort;
class UdpEndpoint;

// True when the whole frame was written. A payload over 255 bytes cannot be framed:
// nothing is sent, the hex text is empty and the result is false.
bool SendCommandSerial(SerialPort& port, uint8_t code, std::span<const uint8_t> payload, QString& hex_text);

// A send failure has been shown to the user by the endpoint before this returns false. A
// payload over 255 bytes: nothing is sent, the hex text is empty and the result is false.
bool SendCommandUdp(UdpEndpoint& endpoint, uint8_t code, std::span<const uint8_t> payload, QString& hex_text);

}  // namespace velmora
