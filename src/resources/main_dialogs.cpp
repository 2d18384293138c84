#include "resources/layout.h"

#include <QtGlobal>

namespace velmora::res {

const Dialog& MainDialog() {
  static const Dialog d{
      102, "Velmora v1.2", 555, 391, 9,
      {
          {1052, Kind::TabControl, "", 7, 0, 318, 377, {"USART", "ENET", "MQTT"}},
          {1049, Kind::RichEdit, "", 329, 12, 219, 365},
          {1005, Kind::Label, "....", 112, 380, 97, 8, {}, 0, kCentered},
      }};
  return d;
}

const Dialog& AboutDialog() {
  static const Dialog d{
      100, QT_TRANSLATE_NOOP("Layout", "关于 Morvane"), 170, 62, 9,
      {
          {kNoId, Kind::Icon, "", 14, 14, 21, 20},
          {kNoId, Kind::Label, QT_TRANSLATE_NOOP("Layout", "Morvane，1.0 版"), 42, 14, 114, 8},
          {1, Kind::PushButton, QT_TRANSLATE_NOOP("Layout", "确定"), 113, 41, 50, 14},
      }};
  return d;
}

const std::vector<MenuItem>& LogMenu() {
  static const std::vector<MenuItem> m{{kCmdCopy, "Copy"},
                                       {kCmdClear, "Clear"},
                                       {kCmdSelectAll, QT_TRANSLATE_NOOP("Layout", "全选")},
                                       {kCmdFind, QT_TRANSLATE_NOOP("Layout", "查找...")},
                                       {kCmdSaveAs, QT_TRANSLATE_NOOP("Layout", "另存为...")},
                                       {kCmdSessionLog, QT_TRANSLATE_NOOP("Layout", "保存会话日志")}};
  return m;
}

}  // namespace velmora::res
