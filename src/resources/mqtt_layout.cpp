#include "resources/mqtt_layout.h"

#include <QtGlobal>

namespace velmora::res {

const Dialog& MqttDialog() {
  static const Dialog d{
      136, "", 368, 400, 8,
      {
          {kNoId, Kind::GroupBox, QT_TRANSLATE_NOOP("Layout", "MQTT端口映射:"), 8, 7, 348, 43},
          {kNoId, Kind::GroupBox, QT_TRANSLATE_NOOP("Layout", "MQTT三元组信息:"), 8, 54, 348, 108},
          {kIdcWriteMqtt, Kind::PushButton, QT_TRANSLATE_NOOP("Layout", "写入配置"), 88, 177, 58, 17},
          {kIdcReadMqtt, Kind::PushButton, QT_TRANSLATE_NOOP("Layout", "读取配置"), 178, 177, 58, 17},
          {kMqttPortMapLabel, Kind::Label, QT_TRANSLATE_NOOP("Layout", "端口映射:"), 23, 27, 36, 8},
          {kIdcMqttPortMap, Kind::ComboBox, "", 84, 25, 195, 198, {QT_TRANSLATE_NOOP("Layout", "关闭"), "IP0_4G", "IP1_4G", "ENET_TCP"},
           0, kNoStyle, kMqttPortMapLabel},
          {kMqttProductKeyLabel, Kind::Label, "ProductKey:", 23, 79, 40, 8},
          {kMqttDeviceNameLabel, Kind::Label, "DeviceName:", 23, 102, 43, 8},
          {kMqttDeviceSecretLabel, Kind::Label, "DeviceSecret:", 23, 126, 46, 8},
          {kIdcProductKey, Kind::Edit, "", 84, 76, 195, 14, {}, kProductKeyLimit,
           kNoStyle, kMqttProductKeyLabel},
          {kIdcDeviceName, Kind::Edit, "", 84, 100, 195, 14, {}, kDeviceNameLimit,
           kNoStyle, kMqttDeviceNameLabel},
          {kIdcDeviceSecret, Kind::Edit, "", 84, 124, 195, 14, {}, kDeviceSecretLimit,
           kNoStyle, kMqttDeviceSecretLabel},
      }};
  return d;
}

}  // namespace velmora::res
