#include "support/udp_test_port.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QUdpSocket>

namespace velmora::test {

quint16 FreeUdpPort() {
  QUdpSocket probe;
  probe.setProxy(QNetworkProxy::NoProxy);
  if (!probe.bind(QHostAddress::AnyIPv4, 0)) return 0;
  return probe.localPort();
}

void NoProxy(QAbstractSocket& socket) { socket.setProxy(QNetworkProxy::NoProxy); }

}  // namespace velmora::test
