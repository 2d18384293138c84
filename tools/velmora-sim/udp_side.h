#pragma once
// The simulator's UDP link: one frame per datagram, each answer sent back to the
// address and port its command came from.

#include <QString>
#include <QUdpSocket>

#include "fine_timer.h"
#include "link_context.h"
#include "wire.h"

namespace velmora::sim {

class UdpSide {
 public:
  explicit UdpSide(LinkContext context);

  UdpSide(const UdpSide&) = delete;
  UdpSide& operator=(const UdpSide&) = delete;

  bool Open(const QString& address, int port, QString* error);
  // "ADDRESS:PORT" the socket listens on.
  QString Where() const;
  void Close() { socket_.close(); }

 private:
  void OnReadable();
  void RunOut();

  LinkContext ctx_;
  QUdpSocket socket_;
  Outbox out_;
  FineTimer out_timer_{[this] { RunOut(); }};
};

}  // namespace velmora::sim
