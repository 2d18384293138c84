#include "transport/udp_hub.h"

#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QUdpSocket>

#include <array>
#include <span>

#include "protocol/receive_state.h"
#include "transport/socket_options.h"

#ifndef Q_OS_WIN
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#else
#include <winsock2.h>
#endif

namespace velmora {

UdpHub::UdpHub(quint16 local_port) : local_port_(local_port) {}

UdpHub::~UdpHub() { Close(); }

bool UdpHub::Open(QString* error) {
  Close();
  auto socket = std::make_unique<QUdpSocket>();
  socket->setProxy(QNetworkProxy::NoProxy);
  if (!socket->bind(QHostAddress::AnyIPv4, local_port_, QAbstractSocket::DontShareAddress)) {
    if (error) *error = QStringLiteral("cannot bind UDP port %1: %2").arg(local_port_).arg(socket->errorString());
    return false;
  }
  if (!AllowBroadcast(socket->socketDescriptor())) {
    if (error) *error = QStringLiteral("cannot allow broadcast on UDP port %1").arg(local_port_);
    return false;
  }
  WidenReceiveBuffer(socket->socketDescriptor());
  QObject::connect(socket.get(), &QUdpSocket::readyRead, socket.get(), [this] { OnReadable(); });
  socket_ = std::move(socket);
  return true;
}

void UdpHub::Close() {
  if (!socket_) return;
  socket_->disconnect();
  socket_->close();
  socket_.reset();
}

void UdpHub::AddPeer(quint32 address, ReceiveState& state, bool any_sender) {
  peers_[address] = Peer{&state, any_sender};
}

void UdpHub::RemovePeer(quint32 address) { peers_.erase(address); }

int UdpHub::SendTo(quint32 address, quint16 port, const uint8_t* data, std::size_t len) {
#ifdef Q_OS_WIN
  if (!socket_) return WSAENOTSOCK;
#else
  if (!socket_) return ENOTSOCK;
#endif
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(address);
#ifdef Q_OS_WIN
  const int n = ::sendto(static_cast<SOCKET>(socket_->socketDescriptor()), reinterpret_cast<const char*>(data),
                         static_cast<int>(len), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  return n == SOCKET_ERROR ? ::WSAGetLastError() : 0;
#else
  for (;;) {
    const ssize_t n = ::sendto(static_cast<int>(socket_->socketDescriptor()), data, len, 0,
                               reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (n >= 0) return 0;
    if (errno != EINTR) return errno;
  }
#endif
}

void UdpHub::OnReadable() {
  std::array<char, ReceiveState::kMaxDatagram + 1> buf{};
  while (socket_ && socket_->hasPendingDatagrams()) {
    QHostAddress sender;
    quint16 sender_port = 0;
    const qint64 n = socket_->readDatagram(buf.data(), static_cast<qint64>(buf.size()), &sender, &sender_port);
    if (n < 0) break;  // nothing was taken off the queue; do not spin on it
    if (n == 0 || n > static_cast<qint64>(ReceiveState::kMaxDatagram)) {
      ++ignored_;
      continue;
    }
    bool ok = false;
    const quint32 from = sender.toIPv4Address(&ok);
    Peer* peer = nullptr;
    if (ok) {
      if (auto it = peers_.find(from); it != peers_.end()) peer = &it->second;
    }
    if (!peer && peers_.size() == 1 && peers_.begin()->second.any_sender) peer = &peers_.begin()->second;
    if (!peer) {
      const auto bytes = std::span(reinterpret_cast<const uint8_t*>(buf.data()), static_cast<std::size_t>(n));
      if (!(ok && stranger_ && stranger_(PeerAddress{from, sender_port}, bytes))) ++ignored_;
      continue;
    }
    peer->state->PutDatagram(std::span(reinterpret_cast<const uint8_t*>(buf.data()), static_cast<std::size_t>(n)),
                             PeerAddress{from, sender_port});
  }
}

bool UdpHub::IsUnicast(const QHostAddress& address) {
  bool ok = false;
  const quint32 ip = address.toIPv4Address(&ok);
  if (!ok || ip == 0 || ip == 0xFFFFFFFFu) return false;
  if ((ip >> 28) == 0xE) return false;  // multicast
  if ((ip & 0xFFu) == 0xFFu) return false;
  for (const QNetworkInterface& nic : QNetworkInterface::allInterfaces()) {
    for (const QNetworkAddressEntry& entry : nic.addressEntries()) {
      if (!entry.broadcast().isNull() && entry.broadcast() == address) return false;
    }
  }
  return true;
}

}  // namespace velmora
