#include "transport/udp_endpoint.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <array>
#include <span>

#include "core/modal_ui.h"
#include "protocol/receive_state.h"
#include "transport/socket_options.h"

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

// True when a datagram to `ipv4` may reach more than one host, so replies may come from
// any of them: the limited broadcast, a multicast group, the broadcast of a network the
// machine is on, and any address ending in .255, which is the broadcast of every network
// of 256 addresses or more. A host address ending in .255 (possible only in a network
// larger than that) is taken as a broadcast too: filtering it would drop the replies of
// all devices behind a directed broadcast, while hearing it costs only the filter.
bool ReachesManyHosts(quint32 ipv4) {
  if (ipv4 == 0xFFFFFFFFu || (ipv4 & 0xFFu) == 0xFFu) return true;
  if ((ipv4 >> 28) == 0xEu) return true;  // 224.0.0.0/4
  for (const QNetworkInterface& nic : QNetworkInterface::allInterfaces()) {
    for (const QNetworkAddressEntry& entry : nic.addressEntries()) {
      if (entry.broadcast().protocol() == QAbstractSocket::IPv4Protocol && entry.broadcast().toIPv4Address() == ipv4) {
        return true;
      }
    }
  }
  return false;
}

QString ConnectionClosedText() { return QCoreApplication::translate("velmora::UdpEndpoint", "UDP连接已经关闭!"); }
QString ReceiveFailedText() { return QCoreApplication::translate("velmora::UdpEndpoint", "接受数据失败!"); }

}  // namespace

UdpEndpoint::UdpEndpoint(ReceiveState& state, ModalUi& ui, quint16 local_port, quint16 remote_port)
    : state_(state), ui_(ui), local_port_(local_port), remote_port_(remote_port) {
  ignored_flush_.setSingleShot(true);
  ignored_flush_.setTimerType(Qt::PreciseTimer);  // never before the second is up
  QObject::connect(&ignored_flush_, &QTimer::timeout, &context_, [this] { ReportIgnored(); });
}

UdpEndpoint::~UdpEndpoint() { CloseEndpoint(); }

int UdpEndpoint::NotOpenError() { return kNotSocket; }

bool UdpEndpoint::OpenEndpoint(const QString& address) {
  CloseEndpoint();
  auto socket = std::make_unique<QUdpSocket>();
  // The device is on the local segment: no proxy, and no system proxy lookup (which may
  // go to the network) on the user-interface thread.
  socket->setProxy(QNetworkProxy::NoProxy);
  if (!socket->bind(QHostAddress::AnyIPv4, local_port_, QAbstractSocket::DontShareAddress)) return false;
  if (!AllowBroadcast(socket->socketDescriptor())) return false;
  WidenReceiveBuffer(socket->socketDescriptor());
  QObject::connect(socket.get(), &QUdpSocket::readyRead, socket.get(), [this] { OnReadable(); });
  socket_ = std::move(socket);
  ++open_generation_;
  device_address_ = address;
  bool parsed = false;
  const quint32 ip = QHostAddress(address).toIPv4Address(&parsed);
  // An address that does not parse reaches nobody; there is then no host to hold
  // replies to, and every sender is heard.
  if (parsed && !ReachesManyHosts(ip)) only_from_ = ip;
  state_.SetNameUdpSenders(!only_from_);
  return true;
}

void UdpEndpoint::CloseEndpoint() {
  if (socket_) {
    socket_->disconnect();
    socket_->close();
    socket_.reset();
  }
  device_address_.clear();
  only_from_.reset();
  state_.SetNameUdpSenders(false);
  // What was held back is said at once rather than lost.
  ignored_flush_.stop();
  ReportIgnored();
  last_ignored_line_.reset();
}

bool UdpEndpoint::IsOpen() const { return socket_ != nullptr; }

bool UdpEndpoint::SendToDevice(const uint8_t* data, std::size_t len) {
  int error = kNotSocket;
  if (socket_) {
    bool ok = false;
    const quint32 ip = QHostAddress(device_address_).toIPv4Address(&ok);
    error = ok ? SendDatagram(socket_->socketDescriptor(), data, len, ip, remote_port_) : kNoDestination;
  }
  if (error == 0) return true;
  ShowNotice(QCoreApplication::translate("velmora::UdpEndpoint", "UDP发送失败,请先打开UDP服务:%1").arg(error) +
             QLatin1String("\r\n\r\n"));
  return false;
}

void UdpEndpoint::OnReadable() {
  // One byte more than a datagram may hold, so an oversized one shows up as too long.
  std::array<char, ReceiveState::kMaxDatagram + 1> buf{};
  while (socket_ && socket_->hasPendingDatagrams()) {
    const qint64 size = socket_->pendingDatagramSize();
    QHostAddress sender;
    quint16 sender_port = 0;
    const qint64 n = socket_->readDatagram(buf.data(), static_cast<qint64>(buf.size()), &sender, &sender_port);
    if (n < 0) {
      QueueNotice(ReceiveFailedText());
      break;  // nothing was taken off the queue; do not spin on it
    }
    const PeerAddress from{sender.toIPv4Address(), sender_port};
    const auto bytes = std::span(reinterpret_cast<const uint8_t*>(buf.data()), static_cast<std::size_t>(std::max<qint64>(n, 0)));
    if (tap_ && n > 0 && n <= static_cast<qint64>(ReceiveState::kMaxDatagram) && tap_(from, bytes)) continue;
    if (only_from_ && from.ipv4 != *only_from_) {
      // Not the device: whatever it holds (an empty or oversized datagram too) must not
      // reach the form, end an upload or open a box.
      NoteIgnored(from, std::max(size, n));
      continue;
    }
    const auto limit = static_cast<qint64>(ReceiveState::kMaxDatagram);
    if (size == 0 || n == 0) {
      QueueNotice(ConnectionClosedText());
    } else if (size > limit || n > limit) {
      QueueNotice(ReceiveFailedText());
    } else {
      state_.PutDatagram(std::span(reinterpret_cast<const uint8_t*>(buf.data()), static_cast<std::size_t>(n)), from);
    }
  }
}

void UdpEndpoint::NoteIgnored(const PeerAddress& from, qint64 bytes) {
  ++ignored_held_;
  ignored_from_ = from;
  ignored_bytes_ = bytes;
  if (ignored_flush_.isActive()) return;
  // Timed by the arrivals themselves: nothing runs while nobody sends.
  const auto now = std::chrono::steady_clock::now();
  if (last_ignored_line_ && now - *last_ignored_line_ < kIgnoredLinePeriod) {
    ignored_flush_.start(std::chrono::ceil<std::chrono::milliseconds>(*last_ignored_line_ + kIgnoredLinePeriod - now));
    return;
  }
  ReportIgnored();
}

void UdpEndpoint::ReportIgnored() {
  if (ignored_held_ == 0) return;
  const IgnoredDatagrams report{ignored_from_, ignored_bytes_, ignored_held_};
  ignored_held_ = 0;
  last_ignored_line_ = std::chrono::steady_clock::now();
  if (ignored_handler_) ignored_handler_(report);
}

void UdpEndpoint::QueueNotice(const QString& text) {
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

void UdpEndpoint::ShowNotice(const QString& text) {
  if (box_open_) {
    ++dropped_notices_;
    return;
  }
  box_open_ = true;
  ui_.ShowMessage(text, MessageButtons::Ok);
  box_open_ = false;
}

}  // namespace velmora
