#pragma once
// Layout of the MQTT credential page (136): port mapping, the three credentials and the
// write and read buttons.

#include "resources/layout.h"

namespace velmora::res {

inline constexpr int kIdcMqttPortMap = 1000;
inline constexpr int kIdcProductKey = 1007;
inline constexpr int kIdcDeviceName = 1008;
inline constexpr int kIdcDeviceSecret = 1009;
inline constexpr int kIdcWriteMqtt = 1019;
inline constexpr int kIdcReadMqtt = 1020;

// Byte limits of the credential boxes; the page checks them against the record's fields.
inline constexpr int kProductKeyLimit = 32;
inline constexpr int kDeviceNameLimit = 32;
inline constexpr int kDeviceSecretLimit = 64;

// The labels carry no id in the page's range; these private ids only tie each label to
// the control it names, for screen readers and the label's focus shortcut.
inline constexpr int kMqttPortMapLabel = 13600;
inline constexpr int kMqttProductKeyLabel = 13601;
inline constexpr int kMqttDeviceNameLabel = 13602;
inline constexpr int kMqttDeviceSecretLabel = 13603;

const Dialog& MqttDialog();

}  // namespace velmora::res
