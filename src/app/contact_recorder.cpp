#include "app/contact_recorder.h"

#include <algorithm>

#include "config/config_facts.h"
#include "log/log_sink.h"
#include "mqtt/mqtt_record.h"
#include "protocol/command_frame.h"
#include "protocol/gbk.h"
#include "protocol/text_field.h"
#include "registry/register_writer.h"
#include "transport/serial_port.h"
#include "transport/udp_endpoint.h"

namespace velmora {

namespace {

// The port as a path: the list names ports ("ttyUSB0"), the engineer may type a path.
QString PortPath(const QString& port) {
#ifdef Q_OS_WIN
  return port;
#else
  return port.contains(QLatin1Char('/')) ? port : QStringLiteral("/dev/") + port;
#endif
}

std::optional<QString> Known(const std::string& text) {
  return text.empty() ? std::nullopt : std::optional(QString::fromStdString(text));
}

}  // namespace

ContactRecorder::ContactRecorder(ReceivePump& pump, SerialPort& serial, UdpEndpoint& udp, LogSink& log, QObject* parent)
    : QObject(parent), serial_(serial), udp_(udp), log_(log) {
  for (ReplyKind kind : {ReplyKind::Config, ReplyKind::Mqtt, ReplyKind::Firmware}) {
    pump.Subscribe(kind, std::nullopt, [this](const ReplyFrame& f) { OnReply(f); });
  }
}

ContactRecorder::~ContactRecorder() = default;

void ContactRecorder::SetRegister(const QString& url) {
  if (url == url_) return;
  url_ = url;
  writer_.reset();
  if (url.isEmpty()) return;
  writer_ = std::make_unique<RegisterWriter>(url, [this](int rows, const QString& error) {
    // From the writer's thread to the Log pane's; dropped if the window is gone by then.
    QMetaObject::invokeMethod(
        this, [this, rows, error] { log_.AppendLog(tr("[记录]: %1 条设备记录未写入: %2").arg(rows).arg(error) + QLatin1String("\r\n")); },
        Qt::QueuedConnection);
  });
}

void ContactRecorder::Flush() {
  if (writer_) writer_->Flush();
}

void ContactRecorder::Expect(Link link, uint8_t code, std::chrono::milliseconds wait) {
  const auto now = std::chrono::steady_clock::now();
  std::erase_if(asked_, [now](const Asked& a) { return a.until < now; });
  asked_.push_back(Asked{link, code, now + wait, {}});
}

void ContactRecorder::Forget(Link link) {
  std::erase_if(asked_, [link](const Asked& a) { return a.link == link; });
}

void ContactRecorder::OnReply(const ReplyFrame& frame) {
  if (frame.Code() == cmd::kFirmware) {
    if (frame.link == Link::Udp) firmware_sender_ = frame.sender;
    return;  // the upload's end makes the row
  }
  // The oldest command still waiting that this device has not answered yet.
  const auto now = std::chrono::steady_clock::now();
  const auto asked = std::find_if(asked_.begin(), asked_.end(), [&](const Asked& a) {
    return a.link == frame.link && a.code == frame.Code() && a.until >= now &&
           std::find(a.answered.begin(), a.answered.end(), frame.sender) == a.answered.end();
  });
  if (asked == asked_.end()) return;
  asked->answered.push_back(frame.sender);
  const auto payload = frame.Payload();
  RegisterRow row;
  switch (frame.Code()) {
    case cmd::kReadVersion:
      row.operation = QStringLiteral("version");
      row.firmware_version = FromGbk(TextFieldBytes(payload));
      break;
    case cmd::kReadCsq:
      if (payload.empty()) return;  // the page reports the short answer; it taught nothing
      row.operation = QStringLiteral("csq");
      row.csq = payload[0];
      break;
    case cmd::kReadConfig:
    case cmd::kWriteConfig: {
      row.operation = frame.Code() == cmd::kReadConfig ? QStringLiteral("read-config") : QStringLiteral("write-config");
      const ConfigFacts facts = ConfigFacts::Of(DecodeConfig(payload, false));
      row.mac = Known(facts.mac);
      row.local_ip = Known(facts.local_ip);
      break;
    }
    case cmd::kReadMqtt:
    case cmd::kWriteMqtt: {
      row.operation = frame.Code() == cmd::kReadMqtt ? QStringLiteral("read-mqtt") : QStringLiteral("write-mqtt");
      // The secret stays out: the register is read by many.
      const MqttCredentials c = DecodeMqtt(payload);
      row.product_key = FromGbk(c.product_key);
      row.device_name = FromGbk(c.device_name);
      break;
    }
    default:
      return;  // reset, clock and unknown codes tell nothing about the unit
  }
  Record(std::move(row), frame.link, frame.sender);
}

void ContactRecorder::RecordUpload(FotaOutcome outcome, Link link, const QString& message) {
  RegisterRow row;
  row.operation = QStringLiteral("upgrade");
  row.ok = outcome == FotaOutcome::kAccepted;
  if (!row.ok) row.error = message;
  PeerAddress sender;
  if (link == Link::Udp && firmware_sender_) sender = *firmware_sender_;
  firmware_sender_.reset();
  Record(std::move(row), link, sender);
}

void ContactRecorder::Record(RegisterRow row, Link link, const PeerAddress& sender) {
  if (!writer_) return;
  if (link == Link::Serial) {
    row.link = PortPath(serial_.Port());
    row.address = row.link;
  } else {
    row.link = QStringLiteral("udp");
    // A device that never answered is known only by the address it was sent to.
    row.address = sender.ipv4 != 0 ? UdpDeviceAddress(sender.IpText(), sender.port) : udp_.DeviceAddress();
  }
  writer_->Add(std::move(row));
}

}  // namespace velmora
