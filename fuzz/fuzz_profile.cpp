// Profiles are files from anywhere: reading any bytes must end in a profile or a message,
// and a profile that was read must come back equal through the file it writes.
#include "profile/profile_compare.h"
#include "profile/profile_reader.h"
#include "profile/profile_writer.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "fuzz_check.h"

using namespace velmora;

namespace {

void CheckRoundTrip(const QByteArray& bytes) {
  const ProfileResult read = ParseProfile(bytes);
  CHECK(read.profile.has_value() == read.error.isEmpty());
  if (!read.profile) return;
  const Profile& p = *read.profile;
  CHECK(p.config || p.mqtt || !p.firmware.isEmpty());

  const QByteArray json = ProfileJson(p);
  const ProfileResult again = ParseProfile(json);
  CHECK(again.profile.has_value());
  CHECK(*again.profile == p);
  CHECK(ProfileJson(*again.profile) == json);
  // What the device holds is what the profile says, field for field.
  if (p.config) CHECK(ConfigDifferences(*p.config, DecodeConfig(EncodeConfig(*p.config), p.config->hex)).isEmpty());
  if (p.mqtt) CHECK(MqttDifferences(*p.mqtt, DecodeMqtt(EncodeMqtt(*p.mqtt))).isEmpty());
}

// Random bytes seldom make a whole profile; a good profile with one value replaced by the
// input reaches every field's checks.
QByteArray WithValue(const uint8_t* data, std::size_t size) {
  static const QJsonObject top = QJsonDocument::fromJson(ProfileJson(TemplateProfile())).object();
  static const QStringList config_keys = top["config"].toObject().keys();
  static const QStringList mqtt_keys = top["mqtt"].toObject().keys();
  const std::size_t pick = data[0] % static_cast<std::size_t>(config_keys.size() + mqtt_keys.size());
  const bool in_config = pick < static_cast<std::size_t>(config_keys.size());
  const QString key = in_config ? config_keys[static_cast<qsizetype>(pick)]
                                : mqtt_keys[static_cast<qsizetype>(pick - config_keys.size())];
  const char* part = in_config ? "config" : "mqtt";
  QJsonObject object = top[QLatin1String(part)].toObject();
  object.remove(key);
  QJsonObject rest = top;
  rest.remove(QLatin1String(part));
  QByteArray inner = QJsonDocument(object).toJson(QJsonDocument::Compact);
  inner.insert(1, "\"" + key.toUtf8() + "\":" + QByteArray(reinterpret_cast<const char*>(data + 1),
                                                           static_cast<qsizetype>(size - 1)) + ",");
  QByteArray text = QJsonDocument(rest).toJson(QJsonDocument::Compact);
  text.insert(1, "\"" + QByteArray(part) + "\":" + inner + ",");
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  CheckRoundTrip(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
  if (size > 0) CheckRoundTrip(WithValue(data, size));
  return 0;
}
