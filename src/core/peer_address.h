#pragma once
// Where a datagram came from: an IPv4 address and a port as plain values, so layers
// without the network module can keep and compare senders.

#include <QString>

#include <cstdint>

namespace velmora {

struct PeerAddress {
  uint32_t ipv4 = 0;  // host byte order: 127.0.0.1 is 0x7F000001
  uint16_t port = 0;

  friend bool operator==(const PeerAddress&, const PeerAddress&) = default;

  // "192.168.1.7"
  QString IpText() const {
    return QStringLiteral("%1.%2.%3.%4").arg(ipv4 >> 24).arg((ipv4 >> 16) & 0xFF).arg((ipv4 >> 8) & 0xFF).arg(ipv4 & 0xFF);
  }
  // "192.168.1.7:21"
  QString Text() const { return IpText() + QLatin1Char(':') + QString::number(port); }
};

}  // namespace velmora
