#include "cli/records_command.h"

#include <QJsonObject>
#include <QJsonValue>

#include "cli/exit_status.h"
#include "registry/device_register.h"

namespace velmora::cli {

namespace {

QJsonValue Json(const std::optional<QString>& v) { return v ? QJsonValue(*v) : QJsonValue(); }

QJsonObject JsonOf(const RegisterRow& r) {
  return QJsonObject{
      {QStringLiteral("id"), r.id},
      {QStringLiteral("time"), r.time.toUTC().toString(Qt::ISODateWithMs)},
      {QStringLiteral("station"), r.station},
      {QStringLiteral("link"), r.link},
      {QStringLiteral("address"), r.address},
      {QStringLiteral("firmware_version"), Json(r.firmware_version)},
      {QStringLiteral("csq"), r.csq ? QJsonValue(*r.csq) : QJsonValue()},
      {QStringLiteral("mac"), Json(r.mac)},
      {QStringLiteral("local_ip"), Json(r.local_ip)},
      {QStringLiteral("product_key"), Json(r.product_key)},
      {QStringLiteral("device_name"), Json(r.device_name)},
      {QStringLiteral("operation"), r.operation},
      {QStringLiteral("result"), r.ok ? QStringLiteral("ok") : QStringLiteral("failed")},
      {QStringLiteral("error"), r.error.isEmpty() ? QJsonValue() : QJsonValue(r.error)},
  };
}

// TIME  ADDRESS  OPERATION  RESULT  facts...  station S, link L
QString TextOf(const RegisterRow& r) {
  QStringList parts{r.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), r.address, r.operation};
  parts << (r.ok ? QStringLiteral("ok") : QStringLiteral("failed: ") + r.error);
  const auto fact = [&](const char* name, const std::optional<QString>& v) {
    if (v) parts << QLatin1String(name) + QLatin1Char(' ') + *v;
  };
  fact("version", r.firmware_version);
  if (r.csq) parts << QStringLiteral("CSQ %1").arg(*r.csq);
  fact("MAC", r.mac);
  fact("IP", r.local_ip);
  fact("product key", r.product_key);
  fact("device name", r.device_name);
  parts << QStringLiteral("station %1, link %2").arg(r.station, r.link);
  return parts.join(QStringLiteral("  "));
}

}  // namespace

int RecordsCommand::Prepare(const CommandOptions& o, QString* error) {
  if (const int s = NeedArgs(o, 0, Synopsis(), error); s != kExitDone) return s;
  registry_ = o.registry;
  if (registry_.url.isEmpty()) {
    *error = QStringLiteral("records reads the device register; --no-register leaves none to read");
    return kExitBadInput;
  }
  return kExitDone;
}

int RecordsCommand::RunLocal(Output& out) {
  QString error;
  const auto reg = DeviceRegister::Open(registry_.url, &error);
  if (!reg) {
    out.Error(error, kExitRegisterFailed);
    return kExitRegisterFailed;
  }
  if (reg->ReadOnly()) {
    const QString note = QStringLiteral("register %1 is read-only: %2").arg(reg->Url().Text(), reg->ReadOnlyReason());
    if (out.Json()) {
      out.JsonLine(QJsonObject{{QStringLiteral("event"), QStringLiteral("register")},
                               {QStringLiteral("read_only"), true},
                               {QStringLiteral("message"), note}});
    } else {
      out.Notice(note);
    }
  }
  const auto rows = reg->Rows(RegisterFilter{registry_.since, registry_.address}, -1, &error);
  if (!rows) {
    out.Error(error, kExitRegisterFailed);
    return kExitRegisterFailed;
  }
  for (const RegisterRow& r : *rows) {
    if (out.Json()) {
      out.JsonLine(JsonOf(r));
    } else {
      out.Document(TextOf(r).toUtf8());
    }
  }
  return kExitDone;
}

}  // namespace velmora::cli
