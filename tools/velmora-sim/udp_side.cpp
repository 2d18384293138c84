#include "udp_side.h"

#include <QHostAddress>
#include <QNetworkDatagram>

#include <cstdint>
#include <span>
#include <string>

#include "frame_parser.h"

namespace velmora::sim {

UdpSide::UdpSide(LinkContext context) : ctx_(std::move(context)), out_(0) {
  QObject::connect(&socket_, &QUdpSocket::readyRead, [this] { OnReadable(); });
}

bool UdpSide::Open(const QString& address, int port, QString* error) {
  if (!socket_.bind(QHostAddress(address), static_cast<quint16>(port), QAbstractSocket::DontShareAddress)) {
    *error = QStringLiteral("cannot listen for UDP on %1:%2: %3").arg(address).arg(port).arg(socket_.errorString());
    if (port < 1024 && socket_.error() == QAbstractSocket::SocketAccessError)
      *error += QStringLiteral(" (ports below 1024 need privileges; see --udp-port)");
    return false;
  }
  return true;
}

QString UdpSide::Where() const {
  return QStringLiteral("%1:%2").arg(socket_.localAddress().toString()).arg(socket_.localPort());
}

void UdpSide::OnReadable() {
  while (socket_.hasPendingDatagrams()) {
    const QNetworkDatagram d = socket_.receiveDatagram();
    if (!d.isValid()) break;
    const QByteArray data = d.data();
    const Parsed parsed = ParseDatagram(std::span(reinterpret_cast<const uint8_t*>(data.constData()),
                                                  static_cast<std::size_t>(data.size())));
    const Nanos now = ctx_.Now();
    const Nanos ready = now + ctx_.reply_delay;
    const Peer peer{d.senderAddress().toString().toStdString(), static_cast<uint16_t>(d.senderPort())};
    for (Output& o : ctx_.device.OnParsed(SimLink::kUdp, parsed, now)) out_.Push(std::move(o), ready, peer);
  }
  RunOut();
}

void UdpSide::RunOut() {
  const Nanos now = ctx_.Now();
  const auto next = out_.Run(now, [this](const Outbox::Slice& s) {
    const auto& b = s.item.out.bytes;
    ctx_.log("udp", "tx " + s.item.out.label + " to " + s.item.peer.address + ":" + std::to_string(s.item.peer.port));
    const qint64 sent = socket_.writeDatagram(reinterpret_cast<const char*>(b.data()), static_cast<qint64>(b.size()),
                                              QHostAddress(QString::fromStdString(s.item.peer.address)),
                                              s.item.peer.port);
    if (sent != static_cast<qint64>(b.size())) {
      ctx_.counts.Add("lost-datagrams");
      ctx_.log("udp", "error: cannot send: " + socket_.errorString().toStdString());
    }
  });
  out_timer_.ArmAt(next, now);
}

}  // namespace velmora::sim
