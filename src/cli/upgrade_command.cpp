#include "cli/upgrade_command.h"

#include "cli/apply_job.h"
#include "cli/exit_status.h"

namespace velmora::cli {

QString UpgradeCommand::Description() const {
  return QStringLiteral("Send a firmware image, as the upgrade dialog does (each frame awaited 3 s, resent once).");
}

int UpgradeCommand::Prepare(const CommandOptions& o, QString* error) {
  if (const int s = NeedArgs(o, 1, Synopsis(), error); s != kExitDone) return s;
  firmware_ = o.args[0];
  settings_ = ApplySettings{false, o.gather_facts, o.expect_version, o.restart_wait_ms};
  return CheckFirmware(firmware_, error) ? kExitDone : kExitBadInput;
}

std::unique_ptr<DeviceJob> UpgradeCommand::MakeJob(Output&, const Unit&) const {
  return std::make_unique<ApplyJob>(Profile{}, firmware_, settings_);
}

}  // namespace velmora::cli
