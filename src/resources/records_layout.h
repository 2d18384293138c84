#pragma once
// Layout of the record dialog (132): the Record list and its three buttons.

#include "resources/layout.h"

namespace velmora::res {

inline constexpr int kIdcReadRecords = 1003;
inline constexpr int kIdcClearRecords = 1004;
inline constexpr int kIdcExportExcel = 1022;
inline constexpr int kIdcRecordList = 1051;

const Dialog& RecordDialog();

}  // namespace velmora::res
