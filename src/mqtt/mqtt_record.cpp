#include "mqtt/mqtt_record.h"

#include "protocol/gbk_bytes.h"
#include "protocol/text_field.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace velmora {
namespace {

constexpr std::size_t kProductKeyAt = 1;
constexpr std::size_t kDeviceNameAt = kProductKeyAt + kProductKeyBytes;
constexpr std::size_t kDeviceSecretAt = kDeviceNameAt + kDeviceNameBytes;
constexpr int kPortMapItems = 4;

// A text that fills its field travels whole, without a terminator; a longer one is cut
// to the field, never inside a character.
void PutText(MqttRecordBytes& r, std::size_t at, std::size_t width, const std::string& text) {
  std::memcpy(r.data() + at, text.data(), GbkFitLength(text, width));
}

}  // namespace

MqttRecordBytes EncodeMqtt(const MqttCredentials& c) {
  MqttRecordBytes r{};
  r[0] = static_cast<uint8_t>(static_cast<unsigned>(c.port_map));
  PutText(r, kProductKeyAt, kProductKeyBytes, c.product_key);
  PutText(r, kDeviceNameAt, kDeviceNameBytes, c.device_name);
  PutText(r, kDeviceSecretAt, kDeviceSecretBytes, c.device_secret);
  return r;
}

MqttCredentials DecodeMqtt(std::span<const uint8_t> payload) {
  MqttRecordBytes p{};
  std::copy_n(payload.begin(), std::min(payload.size(), p.size()), p.begin());
  MqttCredentials c;
  const int map = static_cast<int8_t>(p[0]);
  c.port_map = map >= 0 && map < kPortMapItems ? map : -1;
  c.product_key = TextField(std::span(&p[kProductKeyAt], kProductKeyBytes));
  c.device_name = TextField(std::span(&p[kDeviceNameAt], kDeviceNameBytes));
  c.device_secret = TextField(std::span(&p[kDeviceSecretAt], kDeviceSecretBytes));
  return c;
}

}  // namespace velmora
