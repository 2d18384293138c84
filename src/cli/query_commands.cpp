#include "cli/query_commands.h"

#include <QJsonObject>

#include <algorithm>

#include "cli/exit_status.h"
#include "protocol/command_frame.h"
#include "protocol/gbk.h"

namespace velmora::cli {

void VersionJob::Run() {
  Ask(cmd::kReadVersion, {}, QStringLiteral("version"), [this](const Reply& r) {
    const QString text = VersionText(r.payload);
    facts_.version = text;
    Finish(DeviceResult{kExitDone, text, {}, QJsonObject{{QStringLiteral("version"), text}}});
  });
}

void CsqJob::Run() {
  Ask(cmd::kReadCsq, {}, QStringLiteral("csq"), [this](const Reply& r) {
    if (r.payload.isEmpty()) return Refused(QStringLiteral("the CSQ answer holds no value"));
    const int csq = static_cast<uint8_t>(r.payload[0]);
    facts_.csq = csq;
    Finish(DeviceResult{kExitDone, QStringLiteral("CSQ %1").arg(csq), {}, QJsonObject{{QStringLiteral("csq"), csq}}});
  });
}

void ClockJob::Run() {
  const auto payload = ClockPayload(CurrentLocalTime());
  Ask(cmd::kSyncClock, payload, QStringLiteral("clock"), [this](const Reply& r) {
    if (r.payload.size() < 6) return Refused(QStringLiteral("the clock answer holds only %1 bytes").arg(r.payload.size()));
    const auto* b = reinterpret_cast<const uint8_t*>(r.payload.constData());
    const QString clock = QString::asprintf("20%02X-%02X-%02X %02X:%02X:%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
    Finish(DeviceResult{kExitDone, QStringLiteral("clock set to ") + clock, {}, QJsonObject{{QStringLiteral("clock"), clock}}});
  });
}

void ResetJob::Run() {
  Ask(cmd::kSoftwareReset, {}, QStringLiteral("reset"), [this](const Reply&) {
    Finish(DeviceResult{kExitDone, QStringLiteral("reset"), {}, {}});
  });
}

}  // namespace velmora::cli
