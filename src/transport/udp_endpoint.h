#pragma once
// The UDP endpoint: one datagram per frame to the device, every datagram received goes
// into the UDP receive buffer. User-interface thread only.

#include <QObject>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>

class QUdpSocket;

namespace velmora {

class IModalUi;
class ReceiveState;

class CUdpSocket {
 public:
  static constexpr quint16 kLocalPort = 20;
  static constexpr quint16 kDevicePort = 21;

  CUdpSocket(ReceiveState& state, IModalUi& ui, quint16 local_port = kLocalPort, quint16 remote_port = kDevicePort);
  ~CUdpSocket();
  CUdpSocket(const CUdpSocket&) = delete;
  CUdpSocket& operator=(const CUdpSocket&) = delete;

  // Binds the local port on every IPv4 address, exclusively, with broadcast allowed, and
  // records the device address. False (and closed) when the port cannot be had, also when
  // another instance of the tool holds it. An open endpoint is closed first.
  bool OpenEndpoint(const QString& address);
  void CloseEndpoint();
  bool IsOpen() const;
  QString DeviceAddress() const { return device_address_; }
  quint16 LocalPort() const { return local_port_; }

  // One datagram to the device address at the device port. A failure is shown in a
  // message box with the system's error number; the call returns after it is dismissed.
  void SendToDevice(const uint8_t* data, std::size_t len);

  // Message boxes not shown because another box of this endpoint was already up.
  int DroppedNotices() const { return dropped_notices_; }

  // Error number shown for a send while the endpoint is closed.
  static int NotOpenError();

 private:
  void OnReadable();
  // At most one box of this endpoint at a time: a flood of bad datagrams would otherwise
  // pile up boxes without end.
  void QueueNotice(const QString& text);
  void ShowNotice(const QString& text);

  ReceiveState& state_;
  IModalUi& ui_;
  const quint16 local_port_;
  const quint16 remote_port_;
  std::unique_ptr<QUdpSocket> socket_;
  QString device_address_;
  QObject context_;  // owns the queued notice, so it dies with the endpoint
  bool notice_queued_ = false;
  bool box_open_ = false;
  int dropped_notices_ = 0;
};

}  // namespace velmora
