#include "support/udp_test_port.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velmora::test {

quint16 FreeUdpPort() {
  QUdpSocket probe;
  probe.setProxy(QNetworkProxy::NoProxy);
  if (!probe.bind(QHostAddress::AnyIPv4, 0)) return 0;
  return probe.localPort();
}

void NoProxy(QAbstractSocket& socket) { socket.setProxy(QNetworkProxy::NoProxy); }

ManySenders::ManySenders(int senders, quint16 port, const std::vector<std::vector<uint8_t>>& datagrams) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (int i = 0; i < senders; ++i) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    sockets_.push_back(fd);
    for (const auto& d : datagrams) {
      if (::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
          static_cast<ssize_t>(d.size())) {
        ++sent_;
      }
    }
  }
}

ManySenders::~ManySenders() {
  for (const int fd : sockets_) ::close(fd);
}

}  // namespace velmora::test
