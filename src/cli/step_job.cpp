#include "cli/step_job.h"

#include "cli/exit_status.h"
#include "config/config_facts.h"
#include "profile/profile.h"
#include "profile/profile_compare.h"
#include "protocol/command_frame.h"
#include "protocol/gbk.h"

namespace velmora::cli {

namespace {

QString OutcomeText(FotaOutcome o) {
  switch (o) {
    case FotaOutcome::kAccepted: return QStringLiteral("the device accepted the firmware and restarts");
    case FotaOutcome::kCheckFailed: return QStringLiteral("the device refused the firmware: its check failed (XERR)");
    case FotaOutcome::kTimedOut: return QStringLiteral("no answer to a firmware frame, also after one resend");
    case FotaOutcome::kSerialLost: return QStringLiteral("the serial line went away during the upload");
    case FotaOutcome::kReadFailed: return QStringLiteral("the firmware file could not be read; the upload stopped");
    case FotaOutcome::kFileChanged: return QStringLiteral("the firmware file changed during the upload; it stopped");
    case FotaOutcome::kCannotOpen: return QStringLiteral("the firmware file cannot be opened");
    case FotaOutcome::kEmptyFile: return QStringLiteral("the firmware file is empty");
    case FotaOutcome::kFileTooLarge: return QStringLiteral("the firmware file is larger than 4 GiB");
    default: return QStringLiteral("the upload ended unexpectedly");
  }
}

int OutcomeStatus(FotaOutcome o) {
  switch (o) {
    case FotaOutcome::kAccepted: return kExitDone;
    case FotaOutcome::kSerialLost: return kExitLinkFailed;
    case FotaOutcome::kReadFailed:
    case FotaOutcome::kFileChanged:
    case FotaOutcome::kCannotOpen:
    case FotaOutcome::kEmptyFile:
    case FotaOutcome::kFileTooLarge: return kExitBadInput;
    default: return kExitNoAnswer;
  }
}

}  // namespace

ConfigForm ReadBackForm(const QByteArray& payload, bool hex) {
  ConfigForm f =
      DecodeConfig(std::span(reinterpret_cast<const uint8_t*>(payload.constData()), static_cast<std::size_t>(payload.size())), hex);
  if (!f.heartbeat) f.heartbeat = std::string();
  if (!f.register_data) f.register_data = std::string();
  return f;
}

MqttCredentials ReadBackMqtt(const QByteArray& payload) {
  return DecodeMqtt(std::span(reinterpret_cast<const uint8_t*>(payload.constData()), static_cast<std::size_t>(payload.size())));
}

void StepJob::Start(DeviceSession& session, Progress progress, Done done) {
  s_ = &session;
  progress_ = std::move(progress);
  done_ = std::move(done);
  Run();
}

QString StepJob::Where(const DeviceSession& session) const {
  if (uploading_) {
    const FirmwareTransfer& t = session.Transfer();
    return QStringLiteral("during the firmware upload after %1 of %2 bytes; no end frame was sent, the device "
                          "did not take the image")
        .arg(t.DataBytesSent())
        .arg(t.RecordedLength());
  }
  return stage_;
}

void StepJob::Ask(uint8_t code, std::span<const uint8_t> payload, const QString& what, std::function<void(const Reply&)> next) {
  stage_ = QStringLiteral("while waiting for the answer to %1").arg(what);
  s_->Request(code, payload, [this, what, next = std::move(next)](const Answer& a) {
    if (!a.reply) {
      DeviceResult r;
      r.status = a.link_failed ? kExitLinkFailed : kExitNoAnswer;
      r.text = QStringLiteral("%1: %2").arg(what, a.error);
      Finish(std::move(r));
      return;
    }
    next(*a.reply);
  });
}

void StepJob::WriteConfig(const ConfigForm& form, bool verify, std::function<void()> next) {
  const ConfigRecord record = EncodeConfig(form);
  Ask(cmd::kWriteConfig, record, QStringLiteral("write-config"), [this, form, verify, next](const Reply& r) {
    // The device answers with the record it now keeps, its own word on who it is.
    Learn(r.payload.size() >= static_cast<qsizetype>(kConfigRecordSize) ? ReadBackForm(r.payload, form.hex) : form);
    if (!verify) return next();
    Ask(cmd::kReadConfig, {}, QStringLiteral("read-config (verify)"), [this, form, next](const Reply& r) {
      const QStringList diffs = ConfigDifferences(form, ReadBackForm(r.payload, form.hex));
      if (!diffs.isEmpty()) return Refused(QStringLiteral("the configuration read back differs in %1 field(s)").arg(diffs.size()), diffs);
      verified_ = true;
      next();
    });
  });
}

void StepJob::WriteMqtt(const MqttCredentials& c, bool verify, std::function<void()> next) {
  const MqttRecordBytes record = EncodeMqtt(c);
  Ask(cmd::kWriteMqtt, record, QStringLiteral("write-mqtt"), [this, c, verify, next](const Reply&) {
    Learn(c);
    if (!verify) return next();
    Ask(cmd::kReadMqtt, {}, QStringLiteral("read-mqtt (verify)"), [this, c, next](const Reply& r) {
      const QStringList diffs = MqttDifferences(c, ReadBackMqtt(r.payload));
      if (!diffs.isEmpty()) return Refused(QStringLiteral("the MQTT credentials read back differ in %1 field(s)").arg(diffs.size()), diffs);
      next();
    });
  });
}

void StepJob::Upload(const QString& path, std::function<void()> next) {
  uploading_ = true;
  const FotaOutcome started = s_->StartUpload(path, progress_, [this, next](FotaOutcome o) {
    uploading_ = false;
    if (o != FotaOutcome::kAccepted) return Finish(DeviceResult{OutcomeStatus(o), OutcomeText(o), {}, {}});
    uploaded_ = s_->Transfer().RecordedLength();
    next();
  });
  if (started != FotaOutcome::kStarted) {
    uploading_ = false;
    Finish(DeviceResult{OutcomeStatus(started), OutcomeText(started), {}, {}});
  }
}

void StepJob::Refused(const QString& text, const QStringList& details) {
  DeviceResult r;
  r.status = kExitNoAnswer;
  r.text = text;
  r.details = details;
  Finish(std::move(r));
}

void StepJob::Finish(DeviceResult r) {
  if (!done_) return;
  Done done = std::move(done_);
  done_ = nullptr;
  for (auto field : {&DeviceFacts::mac, &DeviceFacts::local_ip, &DeviceFacts::product_key, &DeviceFacts::device_name}) {
    if (!(r.facts.*field)) r.facts.*field = facts_.*field;
  }
  done(std::move(r));
}

void StepJob::Learn(const ConfigForm& form) {
  const ConfigFacts f = ConfigFacts::Of(form);
  if (!f.mac.empty()) facts_.mac = QString::fromStdString(f.mac);
  if (!f.local_ip.empty()) facts_.local_ip = QString::fromStdString(f.local_ip);
}

// Never the device secret: the register is read by many.
void StepJob::Learn(const MqttCredentials& c) {
  facts_.product_key = FromGbk(c.product_key);
  facts_.device_name = FromGbk(c.device_name);
}

}  // namespace velmora::cli
