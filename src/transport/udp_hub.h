#pragma once
// One local UDP port shared by several devices: the command line talks to many devices at
// once, and they all answer to the same local port. Each datagram goes to the peer whose
// address sent it; a datagram from any other sender is dropped.

#include <QHostAddress>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>

#include "core/peer_address.h"

class QUdpSocket;

namespace velmora {

class ReceiveState;

class UdpHub {
 public:
  explicit UdpHub(quint16 local_port);
  ~UdpHub();
  UdpHub(const UdpHub&) = delete;
  UdpHub& operator=(const UdpHub&) = delete;

  // Binds the local port on every IPv4 address, exclusively, with broadcast allowed.
  // False with a reason when the port cannot be had.
  bool Open(QString* error);
  void Close();
  bool IsOpen() const { return socket_ != nullptr; }
  quint16 LocalPort() const { return local_port_; }

  // Datagrams from `address` go into `state`. A peer registered with `any_sender` (a
  // broadcast device, the only peer then) hears every sender.
  void AddPeer(quint32 address, ReceiveState& state, bool any_sender = false);
  void RemovePeer(quint32 address);

  // One datagram; 0 when it went out, else the system's error number.
  int SendTo(quint32 address, quint16 port, const uint8_t* data, std::size_t len);

  // Datagrams no peer takes are offered here first (a search hears every sender this
  // way); those it returns false for are ignored. An empty handler offers nothing.
  using StrangerHandler = std::function<bool(const PeerAddress& from, std::span<const uint8_t> datagram)>;
  void SetStrangerHandler(StrangerHandler handler) { stranger_ = std::move(handler); }

  // Datagrams no peer took (a stranger, a second device answering a broadcast).
  std::uint64_t Ignored() const { return ignored_; }

  // True for an IPv4 address that names one host: not 0.0.0.0, not multicast, not the
  // limited broadcast, not a local network's broadcast address and not x.x.x.255 (the
  // broadcast address of the /24 networks devices are installed on).
  static bool IsUnicast(const QHostAddress& address);

 private:
  void OnReadable();

  struct Peer {
    ReceiveState* state = nullptr;
    bool any_sender = false;
  };

  const quint16 local_port_;
  std::unique_ptr<QUdpSocket> socket_;
  std::map<quint32, Peer> peers_;
  std::uint64_t ignored_ = 0;
  StrangerHandler stranger_;
};

}  // namespace velmora
