#include "profile/profile_compare.h"

#include "profile/profile_fields.h"

namespace velmora {

using namespace profile_fields;

QStringList ConfigDifferences(const ConfigForm& wrote, const ConfigForm& read) {
  // What the device shows after taking `wrote`: the same encoder, the same decoder.
  const ConfigForm expected = DecodeConfig(EncodeConfig(wrote), wrote.hex);
  QStringList out;
  for (const ConfigField& f : ConfigFields()) {
    if (f.kind == Kind::Flag && f.flag == &ConfigForm::hex) continue;
    if (FieldValue(f, expected) == FieldValue(f, read)) continue;
    out << QStringLiteral("config.%1: wrote %2, read %3")
               .arg(U(f.key), QString::fromUtf8(JsonText(FieldValue(f, wrote))),
                    QString::fromUtf8(JsonText(FieldValue(f, read))));
  }
  return out;
}

QStringList MqttDifferences(const MqttCredentials& wrote, const MqttCredentials& read) {
  const MqttCredentials expected = DecodeMqtt(EncodeMqtt(wrote));
  QStringList out;
  for (const MqttField& f : MqttFields()) {
    if (MqttValue(f, expected) == MqttValue(f, read)) continue;
    // The secret stays off the screen and out of the logs a script keeps.
    if (f.text == &MqttCredentials::device_secret) {
      out << U("mqtt.device_secret: the device holds a different secret");
      continue;
    }
    out << QStringLiteral("mqtt.%1: wrote %2, read %3")
               .arg(U(f.key), QString::fromUtf8(JsonText(MqttValue(f, wrote))),
                    QString::fromUtf8(JsonText(MqttValue(f, read))));
  }
  return out;
}

}  // namespace velmora
