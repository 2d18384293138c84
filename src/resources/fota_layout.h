#pragma once
// Layout of the firmware upgrade dialog (130): file choice, file information, the two
// transfer buttons and the progress bar.

#include "resources/layout.h"

namespace velmora::res {

inline constexpr int kIdcFirmwareOpen = 1003;
inline constexpr int kIdcFirmwarePath = 1007;
inline constexpr int kIdcFirmwareStart = 1019;
inline constexpr int kIdcFirmwareStop = 1022;
inline constexpr int kIdcFirmwareProgress = 1040;
inline constexpr int kIdcFirmwareName = 1041;
inline constexpr int kIdcFirmwareSize = 1042;

// The open-file dialog's filter, pipe-separated.
inline constexpr const char* kFirmwareFileFilter = "Data Files(*.bin)|*.bin|All Files (*.*)|*.*||";

const Dialog& FirmwareDialog();

}  // namespace velmora::res
