#include "support/udp_test_port.h"

#include <QHostAddress>
#include <QUdpSocket>

namespace velmora::test {

quint16 FreeUdpPort() {
  QUdpSocket probe;
  if (!probe.bind(QHostAddress::AnyIPv4, 0)) return 0;
  return probe.localPort();
}

}  // namespace velmora::test
