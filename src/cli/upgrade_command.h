#pragma once
// upgrade: one firmware image onto the devices, as the upgrade dialog sends it.

#include "cli/apply_job.h"
#include "cli/command.h"

namespace velmora::cli {

class UpgradeCommand : public Command {
 public:
  QString Name() const override { return QStringLiteral("upgrade"); }
  QString Synopsis() const override { return QStringLiteral("upgrade FIRMWARE.bin"); }
  QString Description() const override;
  int Prepare(const CommandOptions& o, QString* error) override;
  std::unique_ptr<DeviceJob> MakeJob(Output&, const Unit& unit) const override;

 private:
  QString firmware_;
  ApplySettings settings_;
};

}  // namespace velmora::cli
