#include "transport/udp_endpoint.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QTimer>
#include <QUdpSocket>

#include <array>
#include <span>

#include "core/modal_ui.h"
#include "protocol/receive_state.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#ifdef _MSC_VER
#pragma comment(lib, "Ws2_32.lib")
#endif
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#endif

namespace velmora {

namespace {

#ifdef Q_OS_WIN
constexpr int kNotSocket = 10038;        // WSAENOTSOCK
constexpr int kNoDestination = 10039;    // WSAEDESTADDRREQ
#else
constexpr int kNotSocket = ENOTSOCK;
constexpr int kNoDestination = EDESTADDRREQ;
#endif

bool AllowBroadcast(qintptr fd) {
  const int one = 1;
#ifdef Q_OS_WIN
  return ::setsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&one),
                      sizeof one) == 0;
#else
  return ::setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_BROADCAST, &one, sizeof one) == 0;
#endif
}

// Sends on the endpoint's own descriptor so a failure comes back with the system's error
// number, which is what the user is shown. Returns 0 on success.
int SendDatagram(qintptr fd, const uint8_t* data, std::size_t len, quint32 ipv4, quint16 port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(ipv4);
#ifdef Q_OS_WIN
  const int n = ::sendto(static_cast<SOCKET>(fd), reinterpret_cast<const char*>(data), static_cast<int>(len), 0,
                         reinterpret_cast<const sockaddr*>(&to), sizeof to);
  return n == SOCKET_ERROR ? ::WSAGetLastError() : 0;
#else
  for (;;) {
    const ssize_t n = ::sendto(static_cast<int>(fd), data, len, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (n >= 0) return 0;
    if (errno != EINTR) return errno;
  }
#endif
}

QString ConnectionClosedText() { return QString::fromUtf8("UDP连接已经关闭!"); }
QString ReceiveFailedText() { return QString::fromUtf8("接受数据失败!"); }

}  // namespace

CUdpSocket::CUdpSocket(ReceiveState& state, IModalUi& ui, quint16 local_port, quint16 remote_port)
    : state_(state), ui_(ui), local_port_(local_port), remote_port_(remote_port) {}

CUdpSocket::~CUdpSocket() { CloseEndpoint(); }

int CUdpSocket::NotOpenError() { return kNotSocket; }

bool CUdpSocket::OpenEndpoint(const QString& address) {
  CloseEndpoint();
  auto socket = std::make_unique<QUdpSocket>();
  // The device is on the local segment: no proxy, and no system proxy lookup (which may
  // go to the network) on the user-interface thread.
  socket->setProxy(QNetworkProxy::NoProxy);
  if (!socket->bind(QHostAddress::AnyIPv4, local_port_, QAbstractSocket::DontShareAddress)) return false;
  if (!AllowBroadcast(socket->socketDescriptor())) return false;
  QObject::connect(socket.get(), &QUdpSocket::readyRead, socket.get(), [this] { OnReadable(); });
  socket_ = std::move(socket);
  device_address_ = address;
  return true;
}

void CUdpSocket::CloseEndpoint() {
  if (socket_) {
    socket_->disconnect();
    socket_->close();
    socket_.reset();
  }
  device_address_.clear();
}

bool CUdpSocket::IsOpen() const { return socket_ != nullptr; }

void CUdpSocket::SendToDevice(const uint8_t* data, std::size_t len) {
  int error = kNotSocket;
  if (socket_) {
    bool ok = false;
    const quint32 ip = QHostAddress(device_address_).toIPv4Address(&ok);
    error = ok ? SendDatagram(socket_->socketDescriptor(), data, len, ip, remote_port_) : kNoDestination;
  }
  if (error == 0) return;
  ShowNotice(QString::fromUtf8("UDP发送失败,请先打开UDP服务:") + QString::number(error) + QLatin1String("\r\n\r\n"));
}

void CUdpSocket::OnReadable() {
  // One byte more than a datagram may hold, so an oversized one shows up as too long.
  std::array<char, ReceiveState::kMaxDatagram + 1> buf{};
  while (socket_ && socket_->hasPendingDatagrams()) {
    const qint64 size = socket_->pendingDatagramSize();
    const qint64 n = socket_->readDatagram(buf.data(), static_cast<qint64>(buf.size()));
    if (n < 0) {
      QueueNotice(ReceiveFailedText());
      break;  // nothing was taken off the queue; do not spin on it
    }
    const auto limit = static_cast<qint64>(ReceiveState::kMaxDatagram);
    if (size == 0 || n == 0) {
      QueueNotice(ConnectionClosedText());
    } else if (size > limit || n > limit) {
      QueueNotice(ReceiveFailedText());
    } else {
      state_.PutDatagram(std::span(reinterpret_cast<const uint8_t*>(buf.data()), static_cast<std::size_t>(n)));
    }
  }
}

void CUdpSocket::QueueNotice(const QString& text) {
  // Shown from the event loop rather than from inside the socket notification, so the
  // socket keeps being drained (and the flood dropped) while the box is up.
  if (box_open_ || notice_queued_) {
    ++dropped_notices_;
    return;
  }
  notice_queued_ = true;
  QTimer::singleShot(0, &context_, [this, text] {
    notice_queued_ = false;
    ShowNotice(text);
  });
}

void CUdpSocket::ShowNotice(const QString& text) {
  if (box_open_) {
    ++dropped_notices_;
    return;
  }
  box_open_ = true;
  ui_.ShowMessage(text, MessageButtons::Ok);
  box_open_ = false;
}

}  // namespace velmora
