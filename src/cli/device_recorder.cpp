#include "cli/device_recorder.h"

#include <QJsonObject>

#include "cli/exit_status.h"
#include "cli/report.h"
#include "discovery/device_search.h"
#include "registry/register_row.h"
#include "registry/register_writer.h"

namespace velmora::cli {

namespace {
std::optional<QString> Known(const QString& text) { return text.isEmpty() ? std::nullopt : std::optional(text); }
}  // namespace

RegisterRow RowOf(const DeviceLink& link, const ReportRow& unit) {
  RegisterRow row;
  if (link.kind == Link::Serial) {
    row.link = link.path;
    row.address = link.path;
  } else {
    row.link = QStringLiteral("udp");
    row.address = UdpDeviceAddress(link.address.toString(), link.device_port);
  }
  const UnitFacts& facts = unit.facts;
  row.firmware_version = Known(facts.version_after.isEmpty() ? facts.version : facts.version_after);
  row.csq = facts.csq;
  row.mac = Known(facts.mac);
  row.local_ip = Known(facts.local_ip);
  row.product_key = Known(facts.product_key);
  row.device_name = Known(facts.device_name);
  row.operation = unit.command;
  row.ok = unit.status == kExitDone;
  row.error = unit.error;
  return row;
}

RegisterRow RowOf(const FoundDevice& device) {
  RegisterRow row;
  row.link = QStringLiteral("udp");
  row.address = UdpDeviceAddress(device.Address(), device.from.port);
  if (device.version) row.firmware_version = *device.version;
  row.mac = Known(device.Mac());
  row.local_ip = Known(device.LocalIp());
  row.operation = QStringLiteral("discover");
  if (device.conflict) {
    row.ok = false;
    row.error = QStringLiteral("another device reports the same MAC or local IP");
  }
  return row;
}

DeviceRecorder::DeviceRecorder(const RegisterOptions& options) {
  if (!options.url.isEmpty()) writer_ = std::make_unique<RegisterWriter>(options.url, nullptr);
}

DeviceRecorder::~DeviceRecorder() = default;

void DeviceRecorder::Record(const DeviceLink& link, const ReportRow& unit) {
  if (writer_) writer_->Add(RowOf(link, unit));
}

void DeviceRecorder::Record(const FoundDevice& device) {
  if (writer_) writer_->Add(RowOf(device));
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
    out.Notice(text);
  }
  return status == kExitDone ? kExitRegisterFailed : status;
}

}  // namespace velmora::cli
