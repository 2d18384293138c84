#include "resources/console_layout.h"

#include <QtGlobal>

namespace velmora::res {

const Dialog& SendDialog() {
  static const Dialog d{
      140, QT_TRANSLATE_NOOP("Layout", "发送数据"), 300, 70, 8,
      {
          {kIdcConsoleData, Kind::Edit, QT_TRANSLATE_NOOP("Layout", "数据:"), 45, 8, 248, 14},
          {kIdcConsoleFormat, Kind::ComboBox, QT_TRANSLATE_NOOP("Layout", "格式:"), 45, 28, 60, 40,
           {QT_TRANSLATE_NOOP("Layout", "十六进制"), QT_TRANSLATE_NOOP("Layout", "文本")}, 0, kListOnly},
          {kIdcConsoleLink, Kind::ComboBox, QT_TRANSLATE_NOOP("Layout", "链路:"), 140, 28, 55, 40, {}, 0, kListOnly},
          {kIdcConsoleLineEnd, Kind::CheckBox, QT_TRANSLATE_NOOP("Layout", "追加回车换行"), 205, 29, 88, 12},
          {kIdcConsoleSend, Kind::PushButton, QT_TRANSLATE_NOOP("Layout", "发送"), 243, 49, 50, 14},
      }};
  return d;
}

}  // namespace velmora::res
