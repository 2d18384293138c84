#pragma once
// The two socket options both UDP sockets need, on a descriptor Qt opened.

#include <QtGlobal>

namespace velmora {

// Asked of the system for a UDP receive buffer: the answers of a whole network to a search
// (a /24 of devices, two datagrams each) at once.
inline constexpr int kUdpReceiveBufferBytes = 1 << 20;

bool AllowBroadcast(qintptr fd);

// Every device on a network answers a search within milliseconds, and the system's default
// buffer holds only some 160 of those datagrams: whatever comes while this program waits
// for the processor would be lost. Raised past the system's limit where allowed (root),
// else up to it; best effort.
void WidenReceiveBuffer(qintptr fd, int bytes = kUdpReceiveBufferBytes);

}  // namespace velmora
