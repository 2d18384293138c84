#include "resources/fota_layout.h"

#include <QtGlobal>

namespace velmora::res {

const Dialog& FirmwareDialog() {
  static const Dialog d{
      130, QT_TRANSLATE_NOOP("Layout", "FOTA在线升级系统:"), 303, 175, 8,
      {
          {kNoId, Kind::GroupBox, QT_TRANSLATE_NOOP("Layout", "打开文件:"), 7, 7, 289, 33},
          {kIdcFirmwarePath, Kind::Edit, "", 21, 19, 194, 14},
          {kIdcFirmwareOpen, Kind::PushButton, QT_TRANSLATE_NOOP("Layout", "打开"), 223, 19, 50, 14},
          {kNoId, Kind::GroupBox, QT_TRANSLATE_NOOP("Layout", "文件信息:"), 7, 47, 289, 33},
          {kNoId, Kind::Label, QT_TRANSLATE_NOOP("Layout", "文件名称:"), 21, 63, 35, 8},
          {kIdcFirmwareName, Kind::Label, "", 60, 63, 110, 8},
          {kNoId, Kind::Label, QT_TRANSLATE_NOOP("Layout", "文件大小:"), 180, 63, 35, 8},
          {kIdcFirmwareSize, Kind::Label, "", 219, 63, 65, 8},
          {kNoId, Kind::GroupBox, QT_TRANSLATE_NOOP("Layout", "烧录控制:"), 7, 88, 289, 33},
          {kIdcFirmwareStart, Kind::PushButton, QT_TRANSLATE_NOOP("Layout", "APP升级"), 63, 101, 50, 14},
          {kIdcFirmwareStop, Kind::PushButton, QT_TRANSLATE_NOOP("Layout", "STOP升级"), 167, 101, 50, 14},
          {kNoId, Kind::GroupBox, QT_TRANSLATE_NOOP("Layout", "烧录进度:"), 7, 128, 289, 33},
          {kNoId, Kind::Label, QT_TRANSLATE_NOOP("Layout", "烧写进度:"), 21, 144, 36, 8},
          {kIdcFirmwareProgress, Kind::ProgressBar, "", 59, 141, 214, 14},
      }};
  return d;
}

}  // namespace velmora::res
