#include "transport/socket_options.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

namespace velmora {

bool AllowBroadcast(qintptr fd) {
  const int one = 1;
#ifdef Q_OS_WIN
  return ::setsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&one),
                      sizeof one) == 0;
#else
  return ::setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_BROADCAST, &one, sizeof one) == 0;
#endif
}

void WidenReceiveBuffer(qintptr fd, int bytes) {
#ifdef Q_OS_WIN
  ::setsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes);
#else
  if (::setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0) {
    ::setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
  }
#endif
}

}  // namespace velmora
