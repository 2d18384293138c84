#pragma once
// The base of the device jobs: a job as a chain of requests, each answer starting the
// next step, any missing answer ending the job with the reason.

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <span>

#include "cli/command.h"
#include "config/config_record.h"
#include "mqtt/mqtt_record.h"
#include "session/device_session.h"

namespace velmora::cli {

// A configuration read from a device, as the form would hold it: a text field the record
// leaves empty is an empty text.
ConfigForm ReadBackForm(const QByteArray& payload, bool hex);
// A version answer's text: up to its first zero byte, read as GBK.
QString VersionText(const QByteArray& payload);
MqttCredentials ReadBackMqtt(const QByteArray& payload);

class StepJob : public DeviceJob {
 public:
  void Start(DeviceSession& session, Progress progress, Done done) override;
  QString Where(const DeviceSession& session) const override;

 protected:
  virtual void Run() = 0;

  // Sends one request; `next` gets the answer. `what` names the request in the messages.
  void Ask(uint8_t code, std::span<const uint8_t> payload, const QString& what, std::function<void(const Reply&)> next);
  // With `verify`, reads the record back and refuses on any difference.
  void WriteConfig(const ConfigForm& form, bool verify, std::function<void()> next);
  void WriteMqtt(const MqttCredentials& c, bool verify, std::function<void()> next);
  void Upload(const QString& path, std::function<void()> next);
  // Reads the version and the CSQ first, for the report.
  void GatherFacts(std::function<void()> next);
  // After an accepted image: asks the version until the device answers `expected`, for up
  // to `wait_ms`; silence or another version by then fails the job.
  void AwaitVersion(const QString& expected, int wait_ms, std::function<void()> next);
  // Marks a step done on the device, once.
  void MarkDone(const QString& step);
  // The device answered, but not as it should have.
  void Refused(const QString& text, const QStringList& details = {});
  // Ends the job; only the first call counts. The facts learned so far go with it.
  void Finish(DeviceResult r);
  // The unit's identity as a configuration or MQTT record gives it, for the register.
  void Learn(const ConfigForm& form);
  void Learn(const MqttCredentials& c);

  UnitFacts facts_;
  DeviceSession* s_ = nullptr;
  Progress progress_;
  Done done_;
  QString stage_;
  bool uploading_ = false;
  uint64_t uploaded_ = 0;

 private:
  void PollVersion(const QString& expected, qint64 deadline_ms, const QString& last_seen, std::function<void()> next);
  QElapsedTimer restart_clock_;
};

}  // namespace velmora::cli
