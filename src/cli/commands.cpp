#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

#include "cli/command.h"
#include "cli/exit_status.h"
#include "config/config_defaults.h"
#include "config/config_record.h"
#include "mqtt/mqtt_record.h"
#include "profile/profile.h"
#include "profile/profile_compare.h"
#include "profile/profile_reader.h"
#include "profile/profile_writer.h"
#include "protocol/command_frame.h"
#include "protocol/gbk.h"
#include "session/device_session.h"
#include "transport/serial_port_list.h"

namespace velmora::cli {

namespace {

QJsonObject ProfileObject(const Profile& p) { return QJsonDocument::fromJson(ProfileJson(p)).object(); }

// A firmware file the transfer can send: readable, not empty, its length fits the end
// frame's 32 bits.
bool CheckFirmware(const QString& path, QString* error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    *error = QStringLiteral("%1: cannot open the firmware file: %2").arg(path, file.errorString());
    return false;
  }
  if (file.size() == 0) {
    *error = QStringLiteral("%1: the firmware file is empty").arg(path);
    return false;
  }
  if (static_cast<quint64>(file.size()) > 0xFFFFFFFFull) {
    *error = QStringLiteral("%1: the firmware file is larger than 4 GiB").arg(path);
    return false;
  }
  return true;
}

std::optional<Profile> LoadProfile(const QString& path, QString* error) {
  const ProfileResult r = ReadProfileFile(path);
  if (!r.profile) {
    // File errors name the file already; field errors get it in front.
    *error = r.error.startsWith(path + QLatin1Char(':')) ? r.error : path + QStringLiteral(": ") + r.error;
    return std::nullopt;
  }
  return r.profile;
}

int NeedArgs(const CommandOptions& o, int n, const QString& synopsis, QString* error) {
  if (o.args.size() == n) return kExitDone;
  *error = QStringLiteral("usage: velmora-cli LINK... %1").arg(synopsis);
  return kExitBadInput;
}

// A configuration read from a device, as the form would hold it: a text field the record
// leaves empty is an empty text.
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

// A job as a chain of steps: each request's answer starts the next step, and any missing
// answer ends the job with the reason.
class StepJob : public DeviceJob {
 public:
  void Start(DeviceSession& session, Progress progress, Done done) override {
    s_ = &session;
    progress_ = std::move(progress);
    done_ = std::move(done);
    Run();
  }
  QString Where(const DeviceSession& session) const override {
    if (uploading_) {
      const FirmwareTransfer& t = session.Transfer();
      return QStringLiteral("during the firmware upload after %1 of %2 bytes; no end frame was sent, the device "
                            "did not take the image")
          .arg(t.DataBytesSent())
          .arg(t.RecordedLength());
    }
    return stage_;
  }

 protected:
  virtual void Run() = 0;

  void Ask(uint8_t code, std::span<const uint8_t> payload, const QString& what, std::function<void(const Reply&)> next) {
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

  void WriteConfig(const ConfigForm& form, bool verify, std::function<void()> next) {
    const ConfigRecord record = EncodeConfig(form);
    Ask(cmd::kWriteConfig, record, QStringLiteral("write-config"), [this, form, verify, next](const Reply&) {
      if (!verify) return next();
      Ask(cmd::kReadConfig, {}, QStringLiteral("read-config (verify)"), [this, form, next](const Reply& r) {
        const QStringList diffs = ConfigDifferences(form, ReadBackForm(r.payload, form.hex));
        if (!diffs.isEmpty()) return Refused(QStringLiteral("the configuration read back differs in %1 field(s)").arg(diffs.size()), diffs);
        verified_ = true;
        next();
      });
    });
  }

  void WriteMqtt(const MqttCredentials& c, bool verify, std::function<void()> next) {
    const MqttRecordBytes record = EncodeMqtt(c);
    Ask(cmd::kWriteMqtt, record, QStringLiteral("write-mqtt"), [this, c, verify, next](const Reply&) {
      if (!verify) return next();
      Ask(cmd::kReadMqtt, {}, QStringLiteral("read-mqtt (verify)"), [this, c, next](const Reply& r) {
        const QStringList diffs = MqttDifferences(c, ReadBackMqtt(r.payload));
        if (!diffs.isEmpty()) return Refused(QStringLiteral("the MQTT credentials read back differ in %1 field(s)").arg(diffs.size()), diffs);
        next();
      });
    });
  }

  void Upload(const QString& path, std::function<void()> next) {
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

  void Refused(const QString& text, const QStringList& details = {}) {
    DeviceResult r;
    r.status = kExitNoAnswer;
    r.text = text;
    r.details = details;
    Finish(std::move(r));
  }

  void Finish(DeviceResult r) {
    if (!done_) return;
    Done done = std::move(done_);
    done_ = nullptr;
    done(std::move(r));
  }

  DeviceSession* s_ = nullptr;
  Progress progress_;
  Done done_;
  QString stage_;
  bool uploading_ = false;
  bool verified_ = false;
  uint64_t uploaded_ = 0;
};

// --- version, csq, clock, reset ---

class VersionJob : public StepJob {
  void Run() override {
    Ask(cmd::kReadVersion, {}, QStringLiteral("version"), [this](const Reply& r) {
      // The whole text up to its first zero byte, read as GBK.
      const auto end = std::find(r.payload.cbegin(), r.payload.cend(), '\0');
      const QByteArray raw = r.payload.left(end - r.payload.cbegin());
      const QString text = FromGbk(std::span(reinterpret_cast<const uint8_t*>(raw.constData()), static_cast<std::size_t>(raw.size())));
      Finish(DeviceResult{kExitDone, text, {}, QJsonObject{{QStringLiteral("version"), text}}});
    });
  }
};

class CsqJob : public StepJob {
  void Run() override {
    Ask(cmd::kReadCsq, {}, QStringLiteral("csq"), [this](const Reply& r) {
      if (r.payload.isEmpty()) return Refused(QStringLiteral("the CSQ answer holds no value"));
      const int csq = static_cast<uint8_t>(r.payload[0]);
      Finish(DeviceResult{kExitDone, QStringLiteral("CSQ %1").arg(csq), {}, QJsonObject{{QStringLiteral("csq"), csq}}});
    });
  }
};

class ClockJob : public StepJob {
  void Run() override {
    const auto payload = ClockPayload(CurrentLocalTime());
    Ask(cmd::kSyncClock, payload, QStringLiteral("clock"), [this](const Reply& r) {
      if (r.payload.size() < 6) return Refused(QStringLiteral("the clock answer holds only %1 bytes").arg(r.payload.size()));
      const auto* b = reinterpret_cast<const uint8_t*>(r.payload.constData());
      const QString clock = QString::asprintf("20%02X-%02X-%02X %02X:%02X:%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
      Finish(DeviceResult{kExitDone, QStringLiteral("clock set to ") + clock, {}, QJsonObject{{QStringLiteral("clock"), clock}}});
    });
  }
};

class ResetJob : public StepJob {
  void Run() override {
    Ask(cmd::kSoftwareReset, {}, QStringLiteral("reset"), [this](const Reply&) {
      Finish(DeviceResult{kExitDone, QStringLiteral("reset"), {}, {}});
    });
  }
};

template <typename Job>
class SimpleCommand : public Command {
 public:
  SimpleCommand(const char* name, const char* description) : name_(name), description_(description) {}
  QString Name() const override { return QString::fromLatin1(name_); }
  QString Synopsis() const override { return Name(); }
  QString Description() const override { return QString::fromLatin1(description_); }
  int Prepare(const CommandOptions& o, QString* error) override { return NeedArgs(o, 0, Synopsis(), error); }
  std::unique_ptr<DeviceJob> MakeJob(Output&) const override { return std::make_unique<Job>(); }

 private:
  const char* name_;
  const char* description_;
};

// --- read-config, read-mqtt ---

class ReadJob : public StepJob {
 public:
  ReadJob(bool mqtt, QString output, Output& out) : mqtt_(mqtt), output_(std::move(output)), out_(out) {}

 private:
  void Run() override {
    const uint8_t code = mqtt_ ? cmd::kReadMqtt : cmd::kReadConfig;
    Ask(code, {}, mqtt_ ? QStringLiteral("read-mqtt") : QStringLiteral("read-config"), [this](const Reply& r) {
      Profile p;
      // The record does not carry the HEX box; the form's default reads it.
      if (mqtt_) {
        p.mqtt = ReadBackMqtt(r.payload);
      } else {
        p.config = ReadBackForm(r.payload, DefaultConfigForm().hex);
      }
      const QString what = mqtt_ ? QStringLiteral("MQTT credentials") : QStringLiteral("configuration");
      if (!output_.isEmpty()) {
        QString error;
        if (!WriteProfileFile(output_, p, &error)) {
          return Finish(DeviceResult{kExitBadInput, error, {}, {}});
        }
        return Finish(DeviceResult{kExitDone, QStringLiteral("%1 saved to %2").arg(what, output_), {},
                                   QJsonObject{{QStringLiteral("file"), output_}}});
      }
      if (out_.Json()) {
        return Finish(DeviceResult{kExitDone, what + QStringLiteral(" read"), {},
                                   QJsonObject{{QStringLiteral("profile"), ProfileObject(p)}}});
      }
      out_.Document(ProfileJson(p));
      Finish(DeviceResult{kExitDone, what + QStringLiteral(" read"), {}, {}});
    });
  }

  bool mqtt_;
  QString output_;
  Output& out_;
};

class ReadCommand : public Command {
 public:
  explicit ReadCommand(bool mqtt) : mqtt_(mqtt) {}
  QString Name() const override { return mqtt_ ? QStringLiteral("read-mqtt") : QStringLiteral("read-config"); }
  QString Synopsis() const override { return Name() + QStringLiteral(" [-o PROFILE]"); }
  QString Description() const override {
    return mqtt_ ? QStringLiteral("Print the device's MQTT credentials as a profile, or save them (-o).")
                 : QStringLiteral("Print the device's configuration as a profile, or save it (-o).");
  }
  bool OneDeviceOnly() const override { return true; }
  bool TakesOutput() const override { return true; }
  bool DocumentOnStdout() const override { return output_.isEmpty() && !json_; }
  int Prepare(const CommandOptions& o, QString* error) override {
    output_ = o.output;
    json_ = o.json;
    return NeedArgs(o, 0, Synopsis(), error);
  }
  std::unique_ptr<DeviceJob> MakeJob(Output& out) const override {
    return std::make_unique<ReadJob>(mqtt_, output_, out);
  }

 private:
  bool mqtt_;
  QString output_;
  bool json_ = false;
};

// --- write-config, write-mqtt, apply ---

class ApplyJob : public StepJob {
 public:
  ApplyJob(Profile profile, QString firmware, bool verify)
      : profile_(std::move(profile)), firmware_(std::move(firmware)), verify_(verify) {}

 private:
  void Run() override { DoConfig(); }
  void DoConfig() {
    if (!profile_.config) return DoMqtt();
    WriteConfig(*profile_.config, verify_, [this] {
      done_parts_ << (verify_ ? QStringLiteral("configuration written and verified")
                              : QStringLiteral("configuration written"));
      DoMqtt();
    });
  }
  void DoMqtt() {
    if (!profile_.mqtt) return DoFirmware();
    WriteMqtt(*profile_.mqtt, verify_, [this] {
      done_parts_ << (verify_ ? QStringLiteral("MQTT written and verified") : QStringLiteral("MQTT written"));
      DoFirmware();
    });
  }
  void DoFirmware() {
    if (firmware_.isEmpty()) return Done();
    Upload(firmware_, [this] {
      done_parts_ << QStringLiteral("firmware accepted (%1 bytes)").arg(uploaded_);
      Done();
    });
  }
  void Done() { Finish(DeviceResult{kExitDone, done_parts_.join(QStringLiteral(", ")), {}, {}}); }

  Profile profile_;
  QString firmware_;
  bool verify_;
  QStringList done_parts_;
};

class WriteCommand : public Command {
 public:
  enum class Kind { Config, Mqtt, Apply };
  explicit WriteCommand(Kind kind) : kind_(kind) {}
  bool TakesVerify() const override { return kind_ != Kind::Mqtt; }
  QString Name() const override {
    switch (kind_) {
      case Kind::Config: return QStringLiteral("write-config");
      case Kind::Mqtt: return QStringLiteral("write-mqtt");
      default: return QStringLiteral("apply");
    }
  }
  QString Synopsis() const override {
    return Name() + (kind_ == Kind::Mqtt ? QStringLiteral(" PROFILE") : QStringLiteral(" PROFILE [--verify]"));
  }
  QString Description() const override {
    switch (kind_) {
      case Kind::Config:
        return QStringLiteral("Write the profile's configuration; --verify reads it back and compares every field.");
      case Kind::Mqtt: return QStringLiteral("Write the profile's MQTT credentials.");
      default:
        return QStringLiteral("Configuration, then MQTT, then firmware: whatever the profile holds (--verify reads "
                              "the configuration and MQTT back).");
    }
  }
  int Prepare(const CommandOptions& o, QString* error) override {
    if (const int s = NeedArgs(o, 1, Synopsis(), error); s != kExitDone) return s;
    const QString path = o.args[0];
    auto p = LoadProfile(path, error);
    if (!p) return kExitBadInput;
    verify_ = o.verify;
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
  std::unique_ptr<DeviceJob> MakeJob(Output&) const override {
    return std::make_unique<ApplyJob>(profile_, firmware_, verify_);
  }

 private:
  Kind kind_;
  Profile profile_;
  QString firmware_;
  bool verify_ = false;
};

// --- upgrade ---

class UpgradeCommand : public Command {
 public:
  QString Name() const override { return QStringLiteral("upgrade"); }
  QString Synopsis() const override { return QStringLiteral("upgrade FIRMWARE.bin"); }
  QString Description() const override {
    return QStringLiteral("Send a firmware image, as the upgrade dialog does (each frame awaited 3 s, resent once).");
  }
  int Prepare(const CommandOptions& o, QString* error) override {
    if (const int s = NeedArgs(o, 1, Synopsis(), error); s != kExitDone) return s;
    firmware_ = o.args[0];
    return CheckFirmware(firmware_, error) ? kExitDone : kExitBadInput;
  }
  std::unique_ptr<DeviceJob> MakeJob(Output&) const override {
    return std::make_unique<ApplyJob>(Profile{}, firmware_, false);
  }

 private:
  QString firmware_;
};

// --- ports, template ---

class PortsCommand : public Command {
 public:
  QString Name() const override { return QStringLiteral("ports"); }
  QString Synopsis() const override { return Name(); }
  QString Description() const override { return QStringLiteral("List the serial ports (no LINK needed; opens none of them)."); }
  bool NeedsLink() const override { return false; }
  int Prepare(const CommandOptions& o, QString* error) override { return NeedArgs(o, 0, Synopsis(), error); }
  int RunLocal(Output& out) override {
    // The window's own listing: the same ports, none of them opened.
    for (const SerialPortEntry& port : SerialPortList::Ports()) {
      if (out.Json()) {
        out.JsonLine(QJsonObject{{QStringLiteral("port"), port.path},
                                 {QStringLiteral("description"), port.description},
                                 {QStringLiteral("manufacturer"), port.manufacturer},
                                 {QStringLiteral("serial_number"), port.serial_number}});
      } else {
        QString line = port.path;
        if (!port.description.isEmpty()) line += QStringLiteral("  ") + port.description;
        if (!port.manufacturer.isEmpty()) line += QStringLiteral(" (") + port.manufacturer + QLatin1Char(')');
        if (!port.serial_number.isEmpty()) line += QStringLiteral(" #") + port.serial_number;
        out.Document(line.toUtf8());
      }
    }
    return kExitDone;
  }
};

class TemplateCommand : public Command {
 public:
  QString Name() const override { return QStringLiteral("template"); }
  QString Synopsis() const override { return Name(); }
  QString Description() const override { return QStringLiteral("Print a complete profile holding the form's defaults."); }
  bool NeedsLink() const override { return false; }
  bool DocumentOnStdout() const override { return true; }
  int Prepare(const CommandOptions& o, QString* error) override { return NeedArgs(o, 0, Synopsis(), error); }
  int RunLocal(Output& out) override {
    out.Document(ProfileJson(TemplateProfile()));
    return kExitDone;
  }
};

}  // namespace

std::vector<std::unique_ptr<Command>> AllCommands() {
  std::vector<std::unique_ptr<Command>> c;
  c.push_back(std::make_unique<PortsCommand>());
  c.push_back(std::make_unique<SimpleCommand<VersionJob>>("version", "Print the device's version text."));
  c.push_back(std::make_unique<SimpleCommand<CsqJob>>("csq", "Print the device's signal quality (CSQ)."));
  c.push_back(std::make_unique<SimpleCommand<ClockJob>>("clock", "Set the device's clock to this computer's local time."));
  c.push_back(std::make_unique<SimpleCommand<ResetJob>>("reset", "Restart the device."));
  c.push_back(std::make_unique<ReadCommand>(false));
  c.push_back(std::make_unique<WriteCommand>(WriteCommand::Kind::Config));
  c.push_back(std::make_unique<ReadCommand>(true));
  c.push_back(std::make_unique<WriteCommand>(WriteCommand::Kind::Mqtt));
  c.push_back(std::make_unique<WriteCommand>(WriteCommand::Kind::Apply));
  c.push_back(std::make_unique<UpgradeCommand>());
  c.push_back(std::make_unique<TemplateCommand>());
  return c;
}

}  // namespace velmora::cli
