#include "resources/records_layout.h"

#include <QtGlobal>

namespace velmora::res {

const Dialog& RecordDialog() {
  static const Dialog d{
      132, QT_TRANSLATE_NOOP("Layout", "SQL数据库:"), 627, 333, 8,
      {
          {kNoId, Kind::GroupBox, QT_TRANSLATE_NOOP("Layout", "SQL数据库控制:"), 7, 6, 613, 36},
          {kIdcRecordList, Kind::ReportList, "", 7, 48, 613, 278},
          {kIdcReadRecords, Kind::PushButton, QT_TRANSLATE_NOOP("Layout", "读取记录"), 30, 20, 50, 14},
          {kIdcClearRecords, Kind::PushButton, QT_TRANSLATE_NOOP("Layout", "清空记录"), 93, 20, 50, 14},
          {kIdcExportExcel, Kind::PushButton, QT_TRANSLATE_NOOP("Layout", "导出Excel"), 156, 20, 50, 14},
      }};
  return d;
}

}  // namespace velmora::res
