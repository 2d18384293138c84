#include "cli/step_job.h"

#include "cli/exit_status.h"
#include "config/config_facts.h"
#include "profile/profile.h"
#include "profile/profile_compare.h"
#include "protocol/command_frame.h"
#include "protocol/gbk.h"

#include <QTimer>

#include <algorithm>

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
    case FotaOutcome::kEndFrameLoop:
      return QStringLiteral("the device answered the end frame %1 times with OK, never YES or XERR: it neither took "
                            "nor refused the image")
          .arg(DeviceSession::kEndFrameLimit);
    default: return QStringLiteral("the upload ended unexpectedly");
  }
}

int OutcomeStatus(FotaOutcome o) {
  switch (o) {
    case FotaOutcome::kAccepted: return kExitDone;
    case FotaOutcome::kSerialLost: return kExitLinkFailed;
    // Nothing has gone to the device when the start fails; a file that fails later is
    // a failed job on a device already contacted (the runner makes that 1).
    case FotaOutcome::kReadFailed:
    case FotaOutcome::kFileChanged:
    case FotaOutcome::kCannotOpen:
    case FotaOutcome::kEmptyFile:
    case FotaOutcome::kFileTooLarge: return kExitBadInput;
    default: return kExitNoAnswer;
  }
}

}  // namespace

QString VersionText(const QByteArray& payload) {
  // The whole text up to its first zero byte, read as GBK.
  const QByteArray raw = payload.left(payload.indexOf('\0') < 0 ? payload.size() : payload.indexOf('\0'));
  return FromGbk(std::span(reinterpret_cast<const uint8_t*>(raw.constData()), static_cast<std::size_t>(raw.size())));
}

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
    const QString sent = QStringLiteral("during the firmware upload after %1 of %2 bytes").arg(t.DataBytesSent()).arg(t.RecordedLength());
    if (t.EndFramesSent() == 0) return sent + QStringLiteral("; no end frame was sent, the device did not take the image");
    if (t.EndFramesAnsweredOk() == 0) {
      return sent + QStringLiteral("; the end frame went out and the device had not answered it: whether it takes "
                                   "the image is not known");
    }
    return sent + QStringLiteral("; the end frame went out %1 times, the device answered OK %2 times and had not yet "
                                 "answered the last: whether it takes the image is not known")
                      .arg(t.EndFramesSent())
                      .arg(t.EndFramesAnsweredOk());
  }
  return stage_;
}

void StepJob::MarkDone(const QString& step) {
  // Always in the order the work goes: config, mqtt, firmware, verify.
  static const QStringList kOrder{QStringLiteral("config"), QStringLiteral("mqtt"), QStringLiteral("firmware"),
                                  QStringLiteral("verify")};
  if (facts_.steps.contains(step)) return;
  facts_.steps << step;
  std::sort(facts_.steps.begin(), facts_.steps.end(),
            [](const QString& a, const QString& b) { return kOrder.indexOf(a) < kOrder.indexOf(b); });
}

void StepJob::GatherFacts(std::function<void()> next) {
  Ask(cmd::kReadVersion, {}, QStringLiteral("version"), [this, next](const Reply& v) {
    facts_.version = VersionText(v.payload);
    Ask(cmd::kReadCsq, {}, QStringLiteral("csq"), [this, next](const Reply& c) {
      if (!c.payload.isEmpty()) facts_.csq = static_cast<uint8_t>(c.payload[0]);
      next();
    });
  });
}

void StepJob::AwaitVersion(const QString& expected, int wait_ms, std::function<void()> next) {
  restart_clock_.start();
  PollVersion(expected, wait_ms, QString(), std::move(next));
}

void StepJob::PollVersion(const QString& expected, qint64 deadline_ms, const QString& last_seen, std::function<void()> next) {
  // One question a second while the device restarts; an answer with the old version may
  // still come before it does, so only the last one at the deadline counts against it.
  constexpr int kPollMs = 1000;
  const qint64 left = deadline_ms - restart_clock_.elapsed();
  if (left <= 0) {
    if (last_seen.isEmpty()) {
      return Finish(DeviceResult{kExitNoAnswer,
                                 QStringLiteral("the device took the image but did not answer within %1 s after it")
                                     .arg(deadline_ms / 1000.0),
                                 {},
                                 {}});
    }
    return Refused(QStringLiteral("the device took the image but answers version \"%1\", not \"%2\"").arg(last_seen, expected));
  }
  stage_ = QStringLiteral("while waiting for the device to answer again after the upgrade");
  s_->Request(
      cmd::kReadVersion, {},
      [this, expected, deadline_ms, last_seen, next](const Answer& a) {
        if (a.link_failed) return Finish(DeviceResult{kExitLinkFailed, QStringLiteral("version after the upgrade: ") + a.error, {}, {}});
        const QString seen = a.reply ? VersionText(a.reply->payload) : last_seen;
        if (a.reply && seen == expected) {
          facts_.version_after = seen;
          MarkDone(QStringLiteral("verify"));
          return next();
        }
        if (a.reply) facts_.version_after = seen;
        // After an answer, wait out the rest of the second; after silence, ask at once.
        const int pause = a.reply ? kPollMs : 0;
        QTimer::singleShot(pause, s_, [this, expected, deadline_ms, seen, next] { PollVersion(expected, deadline_ms, seen, next); });
      },
      static_cast<int>(std::min<qint64>(kPollMs, left)));
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
      MarkDone(QStringLiteral("verify"));
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
      MarkDone(QStringLiteral("verify"));
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
  r.facts = facts_;
  Done done = std::move(done_);
  done_ = nullptr;
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
