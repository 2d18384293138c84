#include "mqtt/mqtt_record.h"
#include "protocol/gbk.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmora {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Field(const MqttRecordBytes& r, std::size_t at, std::size_t n) { return Bytes(r.begin() + at, r.begin() + at + n); }
Bytes Padded(const std::string& text, std::size_t width) {
  Bytes b(text.begin(), text.end());
  b.resize(width, 0);
  return b;
}

TEST(MqttEncode, StartValuesGiveTheKnownPayload) {
  const MqttCredentials start{0, "kQ7tRw2LmZs", "nb_sample", "5c0e7b91f2d84a36b07c9e1d4f6a2b83"};
  const auto r = EncodeMqtt(start);
  Bytes expected{0x00};
  for (const Bytes& part : {Padded("kQ7tRw2LmZs", 32), Padded("nb_sample", 32),
                            Padded("5c0e7b91f2d84a36b07c9e1d4f6a2b83", 64)})
    expected.insert(expected.end(), part.begin(), part.end());
  EXPECT_EQ(Bytes(r.begin(), r.end()), expected);

  const auto back = DecodeMqtt(r);
  EXPECT_EQ(back.port_map, 0);
  EXPECT_EQ(back.product_key, start.product_key);
  EXPECT_EQ(back.device_name, start.device_name);
  EXPECT_EQ(back.device_secret, start.device_secret);
}

TEST(MqttPortMap, SelectionTravelsAsItsIndexAndUnknownIndexesSelectNothing) {
  EXPECT_EQ(EncodeMqtt({-1, "", "", ""})[0], 0xFF);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(EncodeMqtt({i, "", "", ""})[0], i);
    EXPECT_EQ(DecodeMqtt(EncodeMqtt({i, "", "", ""})).port_map, i);
  }
  for (uint8_t b : {uint8_t{4}, uint8_t{0x7F}, uint8_t{0x80}, uint8_t{0xFF}}) {
    const Bytes payload{b};
    EXPECT_EQ(DecodeMqtt(payload).port_map, -1) << int(b);
  }
}

TEST(MqttTexts, FullFieldsTravelWholeAndReadBackWithoutRunningOn) {
  const MqttCredentials full{3, std::string(32, 'K'), std::string(32, 'N'), std::string(64, 'S')};
  auto r = EncodeMqtt(full);
  EXPECT_EQ(Field(r, 1, 32), Bytes(32, 'K'));
  EXPECT_EQ(Field(r, 33, 32), Bytes(32, 'N'));
  EXPECT_EQ(Field(r, 65, 64), Bytes(64, 'S'));
  auto back = DecodeMqtt(r);
  EXPECT_EQ(back.product_key, full.product_key);
  EXPECT_EQ(back.device_name, full.device_name);
  EXPECT_EQ(back.device_secret, full.device_secret);

  // A reply longer than the record: nothing after the secret's field joins it.
  Bytes longer(r.begin(), r.end());
  longer.resize(255, 'X');
  EXPECT_EQ(DecodeMqtt(longer).device_secret, full.device_secret);
}

TEST(MqttTexts, LongerTextsAreCutToTheFieldBetweenCharacters) {
  const std::string key = std::string(31, 'k') + ToGbk(QString::fromUtf8("设备"));  // 35 bytes
  const std::string secret = ToGbk(QString::fromUtf8("密").repeated(40));     // 80 bytes
  const auto r = EncodeMqtt({1, key, std::string(40, 'n'), secret});
  EXPECT_EQ(Field(r, 1, 32), Padded(std::string(31, 'k'), 32));
  EXPECT_EQ(Field(r, 33, 32), Bytes(32, 'n'));
  const auto back = DecodeMqtt(r);
  EXPECT_EQ(back.device_secret, secret.substr(0, 64));
  EXPECT_EQ(FromGbk(back.device_secret), QString::fromUtf8("密").repeated(32));
}

TEST(MqttDecode, ShortRepliesLeaveMissingFieldsEmpty) {
  const auto none = DecodeMqtt({});
  EXPECT_EQ(none.port_map, 0);
  EXPECT_EQ(none.product_key, "");
  EXPECT_EQ(none.device_name, "");
  EXPECT_EQ(none.device_secret, "");

  const auto r = EncodeMqtt({2, "pk", "device-name", "secret"});
  const auto part = DecodeMqtt(std::span(r.data(), 37));  // up to "devi"
  EXPECT_EQ(part.port_map, 2);
  EXPECT_EQ(part.product_key, "pk");
  EXPECT_EQ(part.device_name, "devi");
  EXPECT_EQ(part.device_secret, "");
}

}  // namespace
}  // namespace velmora
