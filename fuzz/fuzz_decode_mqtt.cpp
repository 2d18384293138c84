// MQTT credential replies come from the network: decoding any payload must stay inside
// each field and give credentials that encode back to the bytes they came from.
#include "mqtt/mqtt_record.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"

using namespace velmora;


namespace {

// The field as encoding the decoded text writes it: up to its first zero byte, then zeros.
void CheckField(const MqttRecordBytes& in, const MqttRecordBytes& out, const std::string& text, std::size_t at,
                std::size_t width) {
  const uint8_t* src = in.data() + at;
  const uint8_t* dst = out.data() + at;
  const std::size_t n = std::find(src, src + width, 0) - src;
  CHECK(text.size() == n);
  CHECK(std::equal(src, src + n, dst));
  CHECK(std::all_of(dst + n, dst + width, [](uint8_t b) { return b == 0; }));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  MqttRecordBytes padded{};
  std::memcpy(padded.data(), data, std::min(size, padded.size()));

  const MqttCredentials c = DecodeMqtt(std::span(data, size));
  CHECK(c.port_map >= -1 && c.port_map <= 3);
  CHECK(c.port_map == -1 || c.port_map == padded[0]);

  const MqttRecordBytes r = EncodeMqtt(c);
  CHECK(r[0] == (c.port_map == -1 ? 0xFF : padded[0]));
  CheckField(padded, r, c.product_key, 1, kProductKeyBytes);
  CheckField(padded, r, c.device_name, 33, kDeviceNameBytes);
  CheckField(padded, r, c.device_secret, 65, kDeviceSecretBytes);

  const MqttCredentials back = DecodeMqtt(r);
  CHECK(back.port_map == c.port_map && back.product_key == c.product_key && back.device_name == c.device_name &&
        back.device_secret == c.device_secret);
  return 0;
}
