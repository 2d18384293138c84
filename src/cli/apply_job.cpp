#include "cli/apply_job.h"

#include <QFile>

#include "cli/exit_status.h"

namespace velmora::cli {

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

void ApplyJob::Run() {
  facts_.changes_device = true;
  if (settings_.gather_facts) return GatherFacts([this] { DoConfig(); });
  DoConfig();
}

void ApplyJob::DoConfig() {
  if (!profile_.config) return DoMqtt();
  WriteConfig(*profile_.config, settings_.verify, [this] {
    MarkDone(QStringLiteral("config"));
    done_parts_ << (settings_.verify ? QStringLiteral("configuration written and verified") : QStringLiteral("configuration written"));
    DoMqtt();
  });
}

void ApplyJob::DoMqtt() {
  if (!profile_.mqtt) return DoFirmware();
  WriteMqtt(*profile_.mqtt, settings_.verify, [this] {
    MarkDone(QStringLiteral("mqtt"));
    done_parts_ << (settings_.verify ? QStringLiteral("MQTT written and verified") : QStringLiteral("MQTT written"));
    DoFirmware();
  });
}

void ApplyJob::DoFirmware() {
  if (firmware_.isEmpty()) return Done();
  Upload(firmware_, [this] {
    MarkDone(QStringLiteral("firmware"));
    done_parts_ << QStringLiteral("firmware accepted (%1 bytes)").arg(uploaded_);
    if (settings_.expect_version.isEmpty()) return Done();
    AwaitVersion(settings_.expect_version, settings_.restart_wait_ms, [this] {
      done_parts_ << QStringLiteral("version %1 after the restart").arg(facts_.version_after);
      Done();
    });
  });
}

void ApplyJob::Done() { Finish(DeviceResult{kExitDone, done_parts_.join(QStringLiteral(", ")), {}, {}}); }

}  // namespace velmora::cli
