#include "profile/profile.h"

#include <QDir>
#include <QFileInfo>

#include "config/config_defaults.h"
#include "mqtt/mqtt_defaults.h"

namespace velmora {

Profile TemplateProfile() { return Profile{DefaultConfigForm(), DefaultMqttCredentials(), QString()}; }

QString FirmwarePath(const QString& profile_path, const Profile& p) {
  if (p.firmware.isEmpty()) return {};
  return QDir::cleanPath(QFileInfo(profile_path).absoluteDir().filePath(p.firmware));
}

}  // namespace velmora
