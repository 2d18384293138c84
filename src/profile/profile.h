#pragma once
// Configuration profiles: the configuration form, the MQTT credentials and a firmware
// file, kept as a JSON file and applied to many devices. A profile is untrusted input:
// reading it is strict, and it only ever yields values the form itself could hold, so a
// profile and the window make the same record through the same encoder.

#include <QString>

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

// The form's and the MQTT page's start values, no firmware.
Profile TemplateProfile();

// The firmware file resolved against the profile's folder; empty when there is none.
QString FirmwarePath(const QString& profile_path, const Profile& p);

}  // namespace velmora
