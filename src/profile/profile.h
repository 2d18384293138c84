#pragma once
// Configuration profiles: the configuration form, the MQTT credentials and a firmware
// file, kept as a JSON file and applied to many devices. A profile is untrusted input:
// reading it is strict, and it only ever yields values the form itself could hold, so a
// profile and the window make the same record through the same encoder.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

#include "config/config_record.h"
#include "mqtt/mqtt_record.h"

namespace velmora {

inline constexpr char kProfileFormat[] = "velmora-profile";
inline constexpr int kProfileVersion = 1;

struct Profile {
  std::optional<ConfigForm> config;  // texts as GBK bytes, exactly as the form holds them
  std::optional<MqttCredentials> mqtt;
  QString firmware;  // as written in the file, relative to the profile's folder; empty = none

  bool operator==(const Profile&) const = default;
};

struct ProfileResult {
  std::optional<Profile> profile;  // empty on any error
  QString error;                   // one message naming the field: "config.lora_frequency: ..."
};

// Strict: unknown keys, missing keys, types, ranges, list captions, GBK lengths and
// address syntax are all errors; nothing falls back to a default.
ProfileResult ParseProfile(const QByteArray& json);

// Keys in the form's order, indented, UTF-8. A form value the reader would refuse (a list
// with no selection, a number box holding something else) is written as it is, so the
// file says what was wrong; WriteProfileFile refuses such a profile.
QByteArray ProfileJson(const Profile& p);

// Also an error for a file that cannot be read or is not JSON.
ProfileResult ReadProfileFile(const QString& path);

// Replaces the file safely (a temporary file beside it, then a rename). Readable by the
// owner only when it holds MQTT credentials. Refuses a profile that would not read back.
bool WriteProfileFile(const QString& path, const Profile& p, QString* error);

// The form's and the MQTT page's start values, no firmware.
Profile TemplateProfile();

// The firmware file resolved against the profile's folder; empty when there is none.
QString FirmwarePath(const QString& profile_path, const Profile& p);

// Fields the device holds differently from what was written, one
// "config.<field>: wrote X, read Y" line each; empty when they agree. `read` is the
// decoded reply, decoded with wrote.hex. A field is compared as the device keeps it: an
// address the record does not carry (DHCP on, a domain given) or a frequency the device
// rounds to its step is not a difference. The HEX flag is the page's, not the device's.
QStringList ConfigDifferences(const ConfigForm& wrote, const ConfigForm& read);
QStringList MqttDifferences(const MqttCredentials& wrote, const MqttCredentials& read);

}  // namespace velmora
