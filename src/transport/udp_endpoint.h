#pragma once
// The UDP endpoint: one datagram per frame to the device; every datagram received from
// the device goes into the UDP receive buffer. User-interface thread only.

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "core/peer_address.h"

class QUdpSocket;

namespace velmora {

class ModalUi;
class ReceiveState;

// Datagrams not taken as replies since the last report: the latest one's sender and
// size, and how many there were in all.
struct IgnoredDatagrams {
  PeerAddress from;
  qint64 bytes = 0;
  int count = 0;
};

class UdpEndpoint {
 public:
  static constexpr quint16 kLocalPort = 20;
  static constexpr quint16 kDevicePort = 21;

  UdpEndpoint(ReceiveState& state, ModalUi& ui, quint16 local_port = kLocalPort, quint16 remote_port = kDevicePort);
  ~UdpEndpoint();
  UdpEndpoint(const UdpEndpoint&) = delete;
  UdpEndpoint& operator=(const UdpEndpoint&) = delete;

  // Binds the local port on every IPv4 address, exclusively, with broadcast allowed, and
  // records the device address. False (and closed) when the port cannot be had, also when
  // another instance of the tool holds it. An open endpoint is closed first.
  //
  // A device address of one host makes that host the only sender heard: a datagram from
  // anywhere else is not a reply, whatever it holds, and is only counted and logged. An
  // address that reaches many hosts (a broadcast or multicast address) hears everyone,
  // and the receive state names each new sender.
  bool OpenEndpoint(const QString& address);
  void CloseEndpoint();
  bool IsOpen() const;
  QString DeviceAddress() const { return device_address_; }
  quint16 LocalPort() const { return local_port_; }
  // True while closed, or open towards an address that reaches many hosts.
  bool HearsEverySender() const { return !only_from_.has_value(); }

  // Where ignored datagrams are reported; without a handler they go unmentioned. The
  // handler is unset (or the endpoint gone) before what it refers to is destroyed.
  void SetIgnoredHandler(std::function<void(const IgnoredDatagrams&)> handler) { ignored_handler_ = std::move(handler); }

  // While set, every datagram from any sender is offered here first; one it returns true
  // for is taken (a search's answers, which no page should act on), the rest go on as
  // usual. Unset it (or let the endpoint go) before what it refers to is destroyed.
  using DatagramTap = std::function<bool(const PeerAddress& from, std::span<const uint8_t> datagram)>;
  void SetDatagramTap(DatagramTap tap) { tap_ = std::move(tap); }

  // Counts the opens: a change tells that the link was opened again meanwhile (by the
  // engineer, say), so what opened it before should not close it.
  int OpenGeneration() const { return open_generation_; }

  // At most one report a second about ignored datagrams; the ones in between are counted
  // in the next report.
  static constexpr std::chrono::milliseconds kIgnoredLinePeriod{1000};
  // True while ignored datagrams wait for that next report; only then does a timer run.
  bool IgnoredLinePending() const { return ignored_flush_.isActive(); }

  // One datagram to the device address at the device port. A failure is shown in a
  // message box with the system's error number; the call returns after it is dismissed.
  // True when the datagram went out.
  bool SendToDevice(const uint8_t* data, std::size_t len);

  // Message boxes not shown because another box of this endpoint was already up.
  int DroppedNotices() const { return dropped_notices_; }

  // Error number shown for a send while the endpoint is closed.
  static int NotOpenError();

 private:
  void OnReadable();
  void NoteIgnored(const PeerAddress& from, qint64 bytes);
  void ReportIgnored();
  // At most one box of this endpoint at a time: a flood of bad datagrams would otherwise
  // pile up boxes without end.
  void QueueNotice(const QString& text);
  void ShowNotice(const QString& text);

  ReceiveState& state_;
  ModalUi& ui_;
  const quint16 local_port_;
  const quint16 remote_port_;
  std::unique_ptr<QUdpSocket> socket_;
  QString device_address_;
  std::optional<quint32> only_from_;  // the device's IPv4 address when it is one host

  std::function<void(const IgnoredDatagrams&)> ignored_handler_;
  DatagramTap tap_;
  int open_generation_ = 0;
  // Ignored datagrams not yet written about, and the latest of them.
  int ignored_held_ = 0;
  PeerAddress ignored_from_;
  qint64 ignored_bytes_ = 0;
  std::optional<std::chrono::steady_clock::time_point> last_ignored_line_;
  QTimer ignored_flush_;  // runs only while held datagrams wait for the next line
  QObject context_;  // owns the queued notice, so it dies with the endpoint
  bool notice_queued_ = false;
  bool box_open_ = false;
  int dropped_notices_ = 0;
};

}  // namespace velmora
