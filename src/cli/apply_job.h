#pragma once
// What a profile holds, onto one device: configuration, then MQTT, then firmware; each
// part only when given. write-config, write-mqtt, apply and upgrade all run this job.

#include <QString>
#include <QStringList>

#include "cli/step_job.h"
#include "profile/profile.h"

namespace velmora::cli {

// A firmware file the transfer can send: readable, not empty, its length fits the end
// frame's 32 bits.
bool CheckFirmware(const QString& path, QString* error);

class ApplyJob : public StepJob {
 public:
  ApplyJob(Profile profile, QString firmware, bool verify)
      : profile_(std::move(profile)), firmware_(std::move(firmware)), verify_(verify) {}

 private:
  void Run() override { DoConfig(); }
  void DoConfig();
  void DoMqtt();
  void DoFirmware();
  void Done();

  Profile profile_;
  QString firmware_;
  bool verify_;
  QStringList done_parts_;
};

}  // namespace velmora::cli
