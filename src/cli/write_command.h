#pragma once
// write-config, write-mqtt, apply: a profile file onto the devices. The file is read and
// checked whole before any link opens.

#include "cli/apply_job.h"
#include "cli/command.h"
#include "profile/profile.h"

namespace velmora::cli {

class WriteCommand : public Command {
 public:
  enum class Kind { Config, Mqtt, Apply };
  explicit WriteCommand(Kind kind) : kind_(kind) {}
  bool TakesVerify() const override { return kind_ != Kind::Mqtt; }
  QString Name() const override;
  QString Synopsis() const override;
  QString Description() const override;
  int Prepare(const CommandOptions& o, QString* error) override;
  std::unique_ptr<DeviceJob> MakeJob(Output&, const Unit& unit) const override;
  const Profile* WrittenProfile() const override { return &profile_; }

 private:
  Kind kind_;
  Profile profile_;
  QString firmware_;
  ApplySettings settings_;
};

}  // namespace velmora::cli
