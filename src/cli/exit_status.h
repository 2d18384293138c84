#pragma once
// The command line's exit statuses, which scripts rely on.

namespace velmora::cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitNoAnswer = 1;     // the device refused or did not answer
inline constexpr int kExitBadInput = 2;     // bad usage, or a bad profile or firmware file
inline constexpr int kExitLinkFailed = 3;   // the link could not be opened (or went away)
// The devices are done, but their rows could not be written to the device register. Only
// when every device succeeded: a device's own status says more and is kept.
inline constexpr int kExitRegisterFailed = 4;
inline constexpr int kExitInterrupted = 130;

}  // namespace velmora::cli
