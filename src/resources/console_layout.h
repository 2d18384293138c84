#pragma once
// Layout of the send console: bytes typed by hand, sent over an open link.

#include "resources/layout.h"

namespace velmora::res {

inline constexpr int kIdcConsoleData = 1001;
inline constexpr int kIdcConsoleFormat = 1002;
inline constexpr int kIdcConsoleLink = 1003;
inline constexpr int kIdcConsoleLineEnd = 1004;
inline constexpr int kIdcConsoleSend = 1005;

// Positions of the format list.
inline constexpr int kConsoleHex = 0;
inline constexpr int kConsoleText = 1;

const Dialog& SendDialog();

}  // namespace velmora::res
