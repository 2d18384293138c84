#pragma once
// Free UDP ports on loopback for tests, so nothing needs the privileged ports 20 and 21.

#include <QtGlobal>

class QAbstractSocket;

namespace velmora::test {

// A port that nothing was bound to a moment ago (the system's choice for port 0).
quint16 FreeUdpPort();

// Test sockets talk on loopback only: skip the system proxy lookup, which runs a thread
// of its own.
void NoProxy(QAbstractSocket& socket);

}  // namespace velmora::test
