#include "cli/read_command.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "cli/exit_status.h"
#include "discovery/device_search.h"
#include "protocol/gbk.h"
#include "cli/step_job.h"
#include "config/config_defaults.h"
#include "profile/profile.h"
#include "profile/profile_writer.h"
#include "protocol/command_frame.h"

namespace velmora::cli {

namespace {

QJsonObject ProfileObject(const Profile& p) { return QJsonDocument::fromJson(ProfileJson(p)).object(); }

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
        Learn(*p.mqtt);
      } else {
        p.config = ReadBackForm(r.payload, DefaultConfigForm().hex);
        Learn(*p.config);
      }
      const QString what = mqtt_ ? QStringLiteral("MQTT credentials") : QStringLiteral("configuration");
      if (!output_.isEmpty()) {
        QString error;
        if (!WriteProfileFile(output_, p, &error)) {
          // The device was read: what it said is not lost, only the file failed.
          if (out_.Json()) {
            return Finish(DeviceResult{kExitNoAnswer, error + QStringLiteral("; the profile is in this line"), {},
                                       QJsonObject{{QStringLiteral("profile"), ProfileObject(p)}}});
          }
          out_.Document(ProfileJson(p));
          return Finish(DeviceResult{kExitNoAnswer, error + QStringLiteral("; the profile read is printed on standard output"), {}, {}});
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

}  // namespace

QString ReadCommand::Name() const { return mqtt_ ? QStringLiteral("read-mqtt") : QStringLiteral("read-config"); }

QString ReadCommand::Synopsis() const { return Name() + QStringLiteral(" [-o PROFILE]"); }

QString ReadCommand::Description() const {
  return mqtt_ ? QStringLiteral("Print the device's MQTT credentials as a profile, or save them (-o).")
               : QStringLiteral("Print the device's configuration as a profile, or save it (-o).");
}

int ReadCommand::Prepare(const CommandOptions& o, QString* error) {
  output_ = o.output;
  json_ = o.json;
  return NeedArgs(o, 0, Synopsis(), error);
}

std::unique_ptr<DeviceJob> ReadCommand::MakeJob(Output& out, const Unit&) const { return std::make_unique<ReadJob>(mqtt_, output_, out); }

}  // namespace velmora::cli
