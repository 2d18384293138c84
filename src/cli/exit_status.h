#pragma once
// The command line's exit statuses, which scripts rely on.

namespace velmora::cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitNoAnswer = 1;     // the device refused or did not answer
inline constexpr int kExitBadInput = 2;     // bad usage, or a bad profile or firmware file
inline constexpr int kExitLinkFailed = 3;   // the link could not be opened (or went away)
inline constexpr int kExitInterrupted = 130;

}  // namespace velmora::cli
