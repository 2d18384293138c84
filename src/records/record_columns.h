#pragma once
// The twelve columns of the Record list: shared by the record dialog (headers and widths)
// and the workbook export (title row). Titles are UTF-8.

#include <array>
#include <string>
#include <vector>

#include <QtGlobal>

namespace velmora {

struct RecordColumn {
  const char* title;
  int width;  // pixels
};

inline constexpr std::array<RecordColumn, 12> kRecordColumns{{
    {QT_TRANSLATE_NOOP("Layout", "设备地址"), 100},
    {QT_TRANSLATE_NOOP("Layout", "电压"), 100},
    {QT_TRANSLATE_NOOP("Layout", "北纬"), 100},
    {QT_TRANSLATE_NOOP("Layout", "东经"), 100},
    {QT_TRANSLATE_NOOP("Layout", "时间"), 160},
    {QT_TRANSLATE_NOOP("Layout", "尺寸"), 100},
    {QT_TRANSLATE_NOOP("Layout", "采集间隔"), 100},
    {QT_TRANSLATE_NOOP("Layout", "监听时间"), 100},
    {QT_TRANSLATE_NOOP("Layout", "固件版本"), 100},
    {"DEV_DSN", 100},
    {"DEV_ICCID", 160},
    {QT_TRANSLATE_NOOP("Layout", "信号强度"), 100},
}};

// The device register's further facts, shown after the twelve once the dialog reads a
// register: what was done, how it went, where, and the unit's identity.
inline constexpr std::array<RecordColumn, 9> kRegisterColumns{{
    {QT_TRANSLATE_NOOP("Layout", "操作"), 100},
    {QT_TRANSLATE_NOOP("Layout", "结果"), 60},
    {QT_TRANSLATE_NOOP("Layout", "工作站"), 100},
    {QT_TRANSLATE_NOOP("Layout", "链路"), 100},
    {"MAC", 130},
    {QT_TRANSLATE_NOOP("Layout", "本地IP"), 110},
    {"ProductKey", 110},
    {"DeviceName", 110},
    {QT_TRANSLATE_NOOP("Layout", "错误信息"), 200},
}};

inline std::vector<std::string> RecordColumnTitles() {
  std::vector<std::string> titles;
  titles.reserve(kRecordColumns.size());
  for (const auto& c : kRecordColumns) titles.emplace_back(c.title);
  return titles;
}

}  // namespace velmora
