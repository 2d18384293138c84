#pragma once
// read-config, read-mqtt: the device's record as a profile, printed or saved (-o).

#include "cli/command.h"

namespace velmora::cli {

class ReadCommand : public Command {
 public:
  explicit ReadCommand(bool mqtt) : mqtt_(mqtt) {}
  QString Name() const override;
  QString Synopsis() const override;
  QString Description() const override;
  bool OneDeviceOnly() const override { return true; }
  bool TakesOutput() const override { return true; }
  bool DocumentOnStdout() const override { return output_.isEmpty() && !json_; }
  int Prepare(const CommandOptions& o, QString* error) override;
  std::unique_ptr<DeviceJob> MakeJob(Output& out, const Unit& unit) const override;

 private:
  bool mqtt_;
  QString output_;
  bool json_ = false;
};

}  // namespace velmora::cli
