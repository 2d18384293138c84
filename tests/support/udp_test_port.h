#pragma once
// Free UDP ports on loopback for tests, so nothing needs the privileged ports 20 and 21.

#include <QtGlobal>

#include <cstdint>
#include <vector>

class QAbstractSocket;

namespace velmora::test {

// A port that nothing was bound to a moment ago (the system's choice for port 0).
quint16 FreeUdpPort();

// Test sockets talk on loopback only: skip the system proxy lookup, which runs a thread
// of its own.
void NoProxy(QAbstractSocket& socket);

// `senders` sockets on loopback each send every one of `datagrams` to `port`, all at
// once, as the devices of a network answer a search. The sockets stay open while the
// object lives: a closed one's port may be handed to the next, and two senders would look
// like one.
class ManySenders {
 public:
  ManySenders(int senders, quint16 port, const std::vector<std::vector<uint8_t>>& datagrams);
  ~ManySenders();
  ManySenders(const ManySenders&) = delete;
  ManySenders& operator=(const ManySenders&) = delete;
  // Datagrams the system took for sending.
  int Sent() const { return sent_; }

 private:
  std::vector<int> sockets_;
  int sent_ = 0;
};

}  // namespace velmora::test
