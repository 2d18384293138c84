#include "cli/write_command.h"

#include <optional>

#include "cli/apply_job.h"
#include "cli/exit_status.h"
#include "profile/profile_reader.h"

namespace velmora::cli {

namespace {

std::optional<Profile> LoadProfile(const QString& path, QString* error) {
  const ProfileResult r = ReadProfileFile(path);
  if (!r.profile) {
    // File errors name the file already; field errors get it in front.
    *error = r.error.startsWith(path + QLatin1Char(':')) ? r.error : path + QStringLiteral(": ") + r.error;
    return std::nullopt;
  }
  return r.profile;
}

}  // namespace

QString WriteCommand::Name() const {
  switch (kind_) {
    case Kind::Config: return QStringLiteral("write-config");
    case Kind::Mqtt: return QStringLiteral("write-mqtt");
    default: return QStringLiteral("apply");
  }
}

QString WriteCommand::Synopsis() const {
  return Name() + (kind_ == Kind::Mqtt ? QStringLiteral(" PROFILE") : QStringLiteral(" PROFILE [--verify]"));
}

QString WriteCommand::Description() const {
  switch (kind_) {
    case Kind::Config:
      return QStringLiteral("Write the profile's configuration; --verify reads it back and compares every field.");
    case Kind::Mqtt: return QStringLiteral("Write the profile's MQTT credentials.");
    default:
      return QStringLiteral("Configuration, then MQTT, then firmware: whatever the profile holds (--verify reads "
                            "the configuration and MQTT back).");
  }
}

int WriteCommand::Prepare(const CommandOptions& o, QString* error) {
  if (const int s = NeedArgs(o, 1, Synopsis(), error); s != kExitDone) return s;
  const QString path = o.args[0];
  auto p = LoadProfile(path, error);
  if (!p) return kExitBadInput;
  settings_ = ApplySettings{o.verify, o.gather_facts, o.expect_version, o.restart_wait_ms};
  if (kind_ == Kind::Config) {
    if (!p->config) {
      *error = path + QStringLiteral(": the profile holds no configuration (config)");
      return kExitBadInput;
    }
    p->mqtt.reset();
    p->firmware.clear();
  } else if (kind_ == Kind::Mqtt) {
    if (!p->mqtt) {
      *error = path + QStringLiteral(": the profile holds no MQTT credentials (mqtt)");
      return kExitBadInput;
    }
    p->config.reset();
    p->firmware.clear();
  } else {
    firmware_ = FirmwarePath(path, *p);
    if (!firmware_.isEmpty() && !CheckFirmware(firmware_, error)) {
      *error = path + QStringLiteral(": firmware: ") + *error;
      return kExitBadInput;
    }
    if (!p->config && !p->mqtt && firmware_.isEmpty()) {
      *error = path + QStringLiteral(": the profile holds nothing to apply");
      return kExitBadInput;
    }
  }
  profile_ = std::move(*p);
  return kExitDone;
}

std::unique_ptr<DeviceJob> WriteCommand::MakeJob(Output&, const Unit& unit) const {
  return std::make_unique<ApplyJob>(unit.profile ? *unit.profile : profile_, firmware_, settings_);
}

}  // namespace velmora::cli
