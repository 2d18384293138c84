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

// How an ApplyJob goes about its device, beyond what it writes.
struct ApplySettings {
  bool verify = false;         // read the records back and compare
  bool gather_facts = false;   // read the version and CSQ first, for the report
  QString expect_version;      // after an upgrade the device must answer this version
  int restart_wait_ms = 30'000;
};

class ApplyJob : public StepJob {
 public:
  ApplyJob(Profile profile, QString firmware, ApplySettings settings)
      : profile_(std::move(profile)), firmware_(std::move(firmware)), settings_(std::move(settings)) {}

 private:
  void Run() override;
  void DoConfig();
  void DoMqtt();
  void DoFirmware();
  void Done();

  Profile profile_;
  QString firmware_;
  ApplySettings settings_;
  QStringList done_parts_;
};

}  // namespace velmora::cli
