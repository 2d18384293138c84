#pragma once
// The 129-byte MQTT credential record. Pure value code: no Qt. Texts are GBK bytes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace velmora {

inline constexpr std::size_t kMqttRecordSize = 129;
using MqttRecordBytes = std::array<uint8_t, kMqttRecordSize>;

inline constexpr std::size_t kProductKeyBytes = 32;
inline constexpr std::size_t kDeviceNameBytes = 32;
inline constexpr std::size_t kDeviceSecretBytes = 64;

struct MqttCredentials {
  int port_map = 0;  // 0 "关闭", 1 "IP0_4G", 2 "IP1_4G", 3 "ENET_TCP"; -1 no selection
  std::string product_key;
  std::string device_name;
  std::string device_secret;

  bool operator==(const MqttCredentials&) const = default;
};

MqttRecordBytes EncodeMqtt(const MqttCredentials& c);
// `payload` is the reply payload (0..255 bytes); missing bytes read as zero.
MqttCredentials DecodeMqtt(std::span<const uint8_t> payload);

}  // namespace velmora
