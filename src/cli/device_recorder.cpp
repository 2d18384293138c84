#include "cli/device_recorder.h"

#include <QJsonObject>

#include "cli/exit_status.h"
#include "registry/register_row.h"
#include "registry/register_writer.h"

namespace velmora::cli {

RegisterRow RowOf(const DeviceLink& link, const QString& command, const DeviceResult& result) {
  RegisterRow row;
  if (link.kind == Link::Serial) {
    row.link = link.path;
    row.address = link.path;
  } else {
    row.link = QStringLiteral("udp");
    row.address = UdpDeviceAddress(link.address.toString(), link.device_port);
  }
  const QJsonObject& data = result.data;
  if (data.contains(QLatin1String("version"))) row.firmware_version = data.value(QLatin1String("version")).toString();
  if (data.contains(QLatin1String("csq"))) row.csq = data.value(QLatin1String("csq")).toInt();
  row.mac = result.facts.mac;
  row.local_ip = result.facts.local_ip;
  row.product_key = result.facts.product_key;
  row.device_name = result.facts.device_name;
  row.operation = command;
  row.ok = result.status == kExitDone;
  if (!row.ok) row.error = result.text;
  return row;
}

DeviceRecorder::DeviceRecorder(const RegisterOptions& options) {
  if (!options.url.isEmpty()) writer_ = std::make_unique<RegisterWriter>(options.url, nullptr);
}

DeviceRecorder::~DeviceRecorder() = default;

void DeviceRecorder::Record(const DeviceLink& link, const QString& command, const DeviceResult& result) {
  if (writer_) writer_->Add(RowOf(link, command, result));
}

int DeviceRecorder::Finish(Output& out, int status) {
  if (!writer_) return status;
  writer_->Flush();
  const RegisterWriter::Counts c = writer_->Totals();
  if (c.failed == 0) return status;
  const QString text = QStringLiteral("register: %1 of %2 rows not written: %3").arg(c.failed).arg(c.failed + c.written).arg(c.first_error);
  if (out.Json()) {
    out.JsonLine(QJsonObject{{QStringLiteral("event"), QStringLiteral("register")},
                             {QStringLiteral("result"), QStringLiteral("failed")},
                             {QStringLiteral("written"), c.written},
                             {QStringLiteral("failed"), c.failed},
                             {QStringLiteral("message"), text}});
  } else {
    out.Error(text);
  }
  return status == kExitDone ? kExitRegisterFailed : status;
}

}  // namespace velmora::cli
