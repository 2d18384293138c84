#include "mqtt/mqtt_record.h"

#include "protocol/gbk_bytes.h"

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

// Read to the first zero byte but never past the field: a full field has no
// terminator, and running on would show the next field's bytes as part of this text.
std::string TextField(const uint8_t* p, std::size_t width) {
  return std::string(p, std::find(p, p + width, uint8_t{0}));
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
  c.product_key = TextField(&p[kProductKeyAt], kProductKeyBytes);
  c.device_name = TextField(&p[kDeviceNameAt], kDeviceNameBytes);
  c.device_secret = TextField(&p[kDeviceSecretAt], kDeviceSecretBytes);
  return c;
}

}  // namespace velmora
